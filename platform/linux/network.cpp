#include "platform/network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

struct IfAddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

std::string DottedDecimal(const sockaddr* address) {
  char text[INET_ADDRSTRLEN] = {};
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
  return inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) ? std::string(text) : std::string();
}

}  // namespace

std::optional<std::vector<InterfaceAddress>> ListIPv4InterfaceAddresses() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return std::nullopt;
  const std::unique_ptr<ifaddrs, IfAddrsFree> list(raw);

  std::vector<InterfaceAddress> result;
  for (const ifaddrs* entry = list.get(); entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    result.push_back({DottedDecimal(entry->ifa_addr), (entry->ifa_flags & IFF_UP) != 0,
                      (entry->ifa_flags & IFF_RUNNING) != 0});
  }
  return result;
}

std::string GetSystemHostName() {
  char name[1024] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}
