#include "app/service.h"

#include "platform/signals.h"
#include "update/updatecheck.h"

#include <cstdio>
#include <cstdlib>

void StopOrLeave(CStartupSequence& startup) {
  if (!startup.Stop(kCloudStopGrace)) std::_Exit(0);
}

int RunWithoutWindow(CSingleInstance& instance, CStartupSequence& startup) {
  instance.ListenForShowRequests([] {
    std::fprintf(stderr, "olvaro-desktop: already running, without a window to show\n");
  });
  startup.Run(StartupHooks{nullptr, [] { StartUpdateCheck(ReportNewVersionOnStderr); }});
  WaitForTerminationSignal();
  StopOrLeave(startup);
  return 0;
}
