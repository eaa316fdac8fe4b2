#include "app/service.h"

#include "base/eventlog.h"
#include "platform/signals.h"
#include "update/updatecheck.h"

#include <cstdio>
#include <cstdlib>

void StopOrLeave(CStartupSequence& startup) {
  if (!startup.Stop(kCloudStopGrace)) std::_Exit(0);
}

int RunWithoutWindow(CSingleInstance& instance, CStartupSequence& startup) {
  // Without a desktop nobody sees notifications: what happens goes to the standard error
  // stream too, where a service manager's journal keeps it.
  SetEventLogEcho(true);
  instance.ListenForShowRequests([] {
    std::fprintf(stderr, "olvaro-desktop: already running, without a window to show\n");
  });
  startup.Run(StartupHooks{nullptr, [] { StartUpdateCheck(ReportNewVersionOnStderr); }});
  WaitForTerminationSignal();
  StopOrLeave(startup);
  return 0;
}
