#include "base/hostinfo.h"

#include <cstdio>

#include "platform/network.h"
#include "platform/osversion.h"
#include "base/hostinfo-private.h"
#include "text/utf8.h"

namespace {

constexpr size_t kMaxAddresses = 5;
constexpr size_t kMaxOsVersionLength = 39;
constexpr unsigned kVerNtWorkstation = 1;

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

std::string FormatWindowsVersion(bool queryOk, unsigned major, unsigned minor, unsigned productType) {
  if (!queryOk) return "Windows";
  if (major == 6 && minor == 1 && productType == kVerNtWorkstation) return "Windows 7";
  if (major == 6 && minor == 0 && productType == kVerNtWorkstation) return "Windows Vista";
  if (major == 5 && minor == 1) return "Windows XP";
  char text[40] = {};
  std::snprintf(text, sizeof text, "Windows %u.%u", major, minor);
  return text;
}
