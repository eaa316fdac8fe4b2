#include "desktopcore/desktopstartup.h"

#include "cloud/cloudmanager.h"
#include "base/hostinfo.h"

DesktopSources SystemDesktopSources() {
  DesktopSources sources;
  sources.localAddresses = GetLocalIPv4Addresses;
  sources.authCode = [] {
    const std::string uuid = GetCloudUuid();
    return uuid.empty() ? std::string() : RequestAuthCode(uuid);
  };
  return sources;
}
