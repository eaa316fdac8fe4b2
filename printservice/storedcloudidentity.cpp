// The print service's default source of the cloud identity: the settings store.
#include "printservice/vostrelhttpserver.h"

#include "base/settings.h"

#include <chrono>
#include <mutex>

namespace {

constexpr std::chrono::seconds kRereadPause(1);

class CStoredCloudIdentity : public CCloudIdentitySource {
public:
  std::string CloudUuid() const override {
    std::lock_guard<std::mutex> lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (uuid.empty() && (!readOnce || now - lastRead >= kRereadPause)) {
      uuid = ReadStoredCloudUuid();
      lastRead = now;
      readOnce = true;
    }
    return uuid;
  }

private:
  mutable std::mutex mutex;
  mutable std::string uuid;
  mutable std::chrono::steady_clock::time_point lastRead;
  mutable bool readOnce = false;
};

}  // namespace

const CCloudIdentitySource& StoredCloudIdentity() {
  static const CStoredCloudIdentity source;
  return source;
}
