// olvaro-desktop: the print server for phones. Without a display it runs as a service:
// the start-up sequence, then nothing until SIGTERM or SIGINT.
#include "app/startup.h"
#include "platform/signals.h"
#include "platform/singleinstance.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// How long the end waits for a cloud poller that is inside a request.
constexpr std::chrono::milliseconds kCloudStopGrace(1000);

}  // namespace

// The command line is not interpreted: a start with " /autorun" is a start by hand.
int main() {
  PrepareProcessSignals();

  CSingleInstance instance;
  if (!instance.Acquire()) {
    CSingleInstance::RequestShowFromRunningInstance();
    return 0;
  }
  instance.ListenForShowRequests([] {
    std::fprintf(stderr, "olvaro-desktop: already running, without a window to show\n");
  });

  CStartupSequence startup;
  startup.Run(StartupHooks{});

  WaitForTerminationSignal();
  if (!startup.Stop(kCloudStopGrace)) {
    // The poller is waiting for the relay without a time limit; the print service has
    // ended and every setting is written whole, so nothing is lost by not waiting.
    std::_Exit(0);
  }
  return 0;
}
