#include "platform/network.h"

#include <vector>
#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include "platform/sockets.h"

namespace {

// Rows so flagged belong to no working interface.
constexpr unsigned kUnusableRow = MIB_IPADDR_DISCONNECTED | MIB_IPADDR_DELETED | MIB_IPADDR_TRANSIENT;

}  // namespace

std::optional<std::vector<InterfaceAddress>> ListIPv4InterfaceAddresses() {
  ULONG size = 0;
  if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
  // The table may grow between the two calls; ask again with the size it then needs.
  std::vector<unsigned char> buffer;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.resize(size);
    result = GetIpAddrTable(reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data()), &size, FALSE);
  }
  if (result != NO_ERROR) return std::nullopt;

  const auto* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.data());
  std::vector<InterfaceAddress> addresses;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPADDRROW& row = table->table[i];
    in_addr address{};
    address.s_addr = row.dwAddr;
    char text[INET_ADDRSTRLEN] = {};
    const bool converted = inet_ntop(AF_INET, &address, text, sizeof text) != nullptr;
    const bool usable = (row.wType & kUnusableRow) == 0;
    addresses.push_back({converted ? std::string(text) : std::string(), usable, usable});
  }
  return addresses;
}

std::string GetSystemHostName() {
  // The socket library must be up before gethostname; the first address fill may come
  // before the print service starts it.
  if (!StartSocketLibrary()) return {};
  char name[1024] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}
