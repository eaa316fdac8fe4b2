#include "base/hostinfo.h"

#include "platform/network.h"
#include "platform/osversion.h"
#include "base/hostinfo-private.h"
#include "text/utf8.h"

namespace {

constexpr size_t kMaxAddresses = 5;
constexpr size_t kMaxOsVersionLength = 39;

}  // namespace

std::vector<std::string> SelectIPv4Addresses(const std::vector<InterfaceAddress>& interfaces) {
  std::vector<std::string> addresses;
  for (const InterfaceAddress& entry : interfaces) {
    if (addresses.size() == kMaxAddresses) break;
    if (!entry.up || !entry.running) continue;
    // Only the one address is dropped; other loopback addresses stay in the list.
    if (entry.address.empty() || entry.address == "127.0.0.1") continue;
    addresses.push_back(entry.address);
  }
  return addresses;
}

std::vector<std::string> GetLocalIPv4Addresses() {
  const auto interfaces = ListIPv4InterfaceAddresses();
  return interfaces ? SelectIPv4Addresses(*interfaces) : std::vector<std::string>();
}

std::string GetOsVersionString() { return CutUtf8(DescribeOperatingSystem(), kMaxOsVersionLength); }

std::string GetLocalHostName() { return GetSystemHostName(); }
