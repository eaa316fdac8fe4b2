#include "app/startup.h"

#include "base/eventlog.h"
#include "base/spool.h"
#include "base/version.h"
#include "platform/clock.h"
#include "base/settings.h"

namespace {

// Drops the poller's reports when no user interface wants them; never destroyed, as an
// abandoned poller may still report at the very end.
class CIgnoredCloudStatus : public CCloudStatusSink {
public:
  void CloudBusy(bool) override {}
  void CloudState(bool) override {}
};

CCloudStatusSink& IgnoredCloudStatus() {
  static CIgnoredCloudStatus* const sink = new CIgnoredCloudStatus;
  return *sink;
}

}  // namespace

bool IsUpdateCheckDue(uint64_t lastCheckTime, uint64_t now) {
  return now >= lastCheckTime && now - lastCheckTime >= kFileTimeDay;
}

void CStartupSequence::Run(const StartupHooks& hooks) {
  if (printServer) {
    return;
  }
  servicePort = ReadPortSetting();
  const uint64_t lastCheckTime = ReadLastUpdateCheckTime();
  const uint64_t now = GetLocalFileTime();

  printServer = std::make_unique<CVostrelHttpServer>(StoredCloudIdentity());
  printServer->Start(servicePort);
  LogEvent("Olvaro Desktop " + std::string(kProductVersion) + " serving phones on port " +
           std::to_string(servicePort) + ", documents in " + GetSpoolFolderPath());

  // When due, start the update check.
  if (hooks.startUpdateCheck && IsUpdateCheckDue(lastCheckTime, now)) {
    hooks.startUpdateCheck();
  }

  cloudPoller.Start(hooks.cloudStatusSink != nullptr ? *hooks.cloudStatusSink
                                                     : IgnoredCloudStatus());
}

bool CStartupSequence::Stop(std::chrono::milliseconds cloudGrace) {
  printServer.reset();
  return cloudPoller.Stop(cloudGrace);
}
