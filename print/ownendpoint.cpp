// Recognising a queue that prints to this program's own driverless printer.
#include "print/printers.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "base/settings.h"
#include "platform/dnssd.h"
#include "platform/network.h"
#include "text/ascii.h"

namespace {

constexpr std::string_view kEndpointPath = "/ipp/print";
constexpr char kIppType[] = "_ipp._tcp";
constexpr std::string_view kUuidUrnPrefix = "urn:uuid:";

// "%20" and the like decoded; a broken escape stays as it is.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      decoded += static_cast<char>(std::strtol(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string WithoutFinalDot(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// The value of `name` in a URI's query ("a=1&uuid=..."), "" when absent.
std::string QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::string_view pair = query.substr(0, query.find('&'));
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=') {
      return PercentDecoded(pair.substr(name.size() + 1));
    }
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
  }
  return {};
}

// A name or address by which this PC reaches itself.
bool IsThisComputer(const std::string& host) {
  if (EqualsIgnoringAsciiCase(host, "localhost") || host == "::1" || host.starts_with("127.")) return true;
  const std::string computer = GetSystemHostName();
  const std::string shortName = computer.substr(0, computer.find('.'));
  if (!computer.empty() && (EqualsIgnoringAsciiCase(host, computer) || EqualsIgnoringAsciiCase(host, shortName) ||
                            EqualsIgnoringAsciiCase(host, shortName + ".local"))) {
    return true;
  }
  for (const InterfaceAddress& address : ListIPv4InterfaceAddresses().value_or(std::vector<InterfaceAddress>{})) {
    if (address.address == host) return true;
  }
  return false;
}

// A DNS-SD service instance ("Kitchen PC._ipp._tcp.local") that this process announces.
bool IsOwnServiceInstance(const std::string& instance) {
  const size_t typeAt = instance.rfind(std::string(".") + kIppType);
  return typeAt != std::string::npos && IsAnnouncedByThisProcess(instance.substr(0, typeAt), kIppType);
}

// "dnssd://Kitchen%20PC._ipp._tcp.local/?uuid=...", as CUPS names a queue it made for a
// printer found on the network: ours when it carries our identity or our announced name.
bool IsOwnDnsSdUri(std::string_view rest) {
  const size_t queryAt = rest.find('?');
  const std::string uuid = queryAt == std::string_view::npos ? "" : QueryValue(rest.substr(queryAt + 1), "uuid");
  const std::string own = ReadPrinterUuid();
  if (!uuid.empty() && own.size() > kUuidUrnPrefix.size() &&
      EqualsIgnoringAsciiCase(uuid, std::string_view(own).substr(kUuidUrnPrefix.size()))) {
    return true;
  }
  return IsOwnServiceInstance(WithoutFinalDot(PercentDecoded(rest.substr(0, rest.find_first_of("/?")))));
}

// "ipp://HOST:PORT/ipp/print" (or ipps, http, https: Windows names IPP ports with http)
// on this PC and the service's port; or "ipp://Kitchen%20PC._ipp._tcp.local/", as CUPS
// lists a printer it sees on the network before it makes a queue for it.
bool IsOwnNetworkUri(const std::string& scheme, std::string_view rest) {
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  std::string_view hostPort = authority.substr(authority.find('@') == std::string_view::npos ? 0 : authority.find('@') + 1);
  std::string host;
  std::string_view port;
  if (hostPort.starts_with('[')) {
    const size_t close = hostPort.find(']');
    if (close == std::string_view::npos) return false;
    host = hostPort.substr(1, close - 1);
    hostPort.remove_prefix(close + 1);
    if (hostPort.starts_with(':')) port = hostPort.substr(1);
  } else {
    host = hostPort.substr(0, hostPort.find(':'));
    if (hostPort.find(':') != std::string_view::npos) port = hostPort.substr(hostPort.find(':') + 1);
  }
  host = WithoutFinalDot(PercentDecoded(host));
  if (IsOwnServiceInstance(host)) return true;

  const std::string_view path = rest.substr(authority.size(), rest.find_first_of("?#") - authority.size());
  if (path != kEndpointPath) return false;
  const unsigned long defaultPort = scheme == "http" ? 80 : scheme == "https" ? 443 : 631;
  const unsigned long number = port.empty() ? defaultPort : std::strtoul(std::string(port).c_str(), nullptr, 10);
  // The service listens on the low 16 bits of the stored port, as it announces it.
  return number == (ReadPortSetting() & 0xFFFF) && IsThisComputer(host);
}

}  // namespace

bool IsOwnDriverlessEndpoint(const std::string& deviceUri) {
  const size_t separator = deviceUri.find("://");
  if (separator == std::string::npos) return false;
  const std::string scheme = LowerAscii(deviceUri.substr(0, separator));
  const std::string_view rest = std::string_view(deviceUri).substr(separator + 3);
  if (scheme == "dnssd") return IsOwnDnsSdUri(rest);
  if (scheme == "ipp" || scheme == "ipps" || scheme == "http" || scheme == "https") return IsOwnNetworkUri(scheme, rest);
  return false;
}
