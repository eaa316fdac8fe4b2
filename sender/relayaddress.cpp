#include "sender/relayaddress.h"

#include <algorithm>
#include <charconv>

#include "text/ascii.h"

namespace {

bool IsLoopback(const std::string& host) {
  if (host == "localhost" || host == "[::1]") return true;
  // 127.0.0.0/8, written as four decimal numbers.
  if (!host.starts_with("127.")) return false;
  int parts = 0;
  for (size_t start = 0; start <= host.size(); ++parts) {
    const size_t end = std::min(host.find('.', start), host.size());
    int value = 0;
    const auto [stop, failed] = std::from_chars(host.data() + start, host.data() + end, value);
    if (failed != std::errc() || stop != host.data() + end || value > 255) return false;
    start = end + 1;
  }
  return parts == 4;
}

}  // namespace

bool NormaliseRelayUrl(const std::string& url, std::string& normal, std::string& error) {
  error = "the relay URL " + url + " is not a web address like https://relay.example.org";
  for (const char c : url) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f') return false;
  }
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) return false;
  const std::string scheme = LowerAscii(url.substr(0, schemeEnd));
  if (scheme != "https" && scheme != "http") return false;
  const auto authorityEnd = std::min(url.find('/', schemeEnd + 3), url.size());
  const std::string authority = LowerAscii(url.substr(schemeEnd + 3, authorityEnd - schemeEnd - 3));
  std::string path = url.substr(authorityEnd);
  if (authority.find_first_of("@?#") != std::string::npos || path.find_first_of("?#") != std::string::npos) return false;
  // The port follows the last colon after any bracketed IPv6 address.
  const auto bracket = authority.rfind(']');
  auto colon = authority.rfind(':');
  if (colon != std::string::npos && bracket != std::string::npos && colon < bracket) colon = std::string::npos;
  const std::string host = authority.substr(0, colon);
  if (host.empty()) return false;
  std::string port;
  if (colon != std::string::npos && colon + 1 < authority.size()) {
    int number = 0;
    const char* first = authority.data() + colon + 1;
    const char* last = authority.data() + authority.size();
    const auto [stop, failed] = std::from_chars(first, last, number);
    if (failed != std::errc() || stop != last || number < 1 || number > 65535) return false;
    if (number != (scheme == "https" ? 443 : 80)) port = ":" + std::to_string(number);
  }
  while (path.ends_with('/')) path.pop_back();
  if (scheme == "http" && !IsLoopback(host)) {
    error = "refusing " + url + ": the pairing would cross the network in clear text; use https://";
    return false;
  }
  normal = scheme + "://" + host + port + path;
  error.clear();
  return true;
}
