#include "relay/names.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "text/utf8.h"

namespace {

constexpr size_t kMaxNameLength = 120;

bool SafeCharacter(char c) {
  return c > 32 && c < 127 && !std::strchr("/\\:*?\"<>|%&;$`'", c);
}

}  // namespace

bool IsValidIdentity(const std::string& uuid) {
  return uuid.size() == 36 && std::all_of(uuid.begin(), uuid.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
         });
}

std::string SafeDocumentName(const std::string& name) {
  const auto separator = name.find_last_of("/\\");
  std::string safe;
  for (const char c : separator == std::string::npos ? name : name.substr(separator + 1)) {
    safe += c == ' ' ? ' ' : SafeCharacter(c) ? c : '_';
  }
  // No hidden files, no "." or "..", no leading or trailing blanks.
  const auto first = safe.find_first_not_of(". ");
  safe = first == std::string::npos ? std::string() : safe.substr(first);
  while (!safe.empty() && safe.back() == ' ') safe.pop_back();
  if (safe.size() > kMaxNameLength) {
    const auto dot = safe.rfind('.');
    const std::string extension = dot != std::string::npos && safe.size() - dot <= 16 ? safe.substr(dot) : "";
    safe = safe.substr(0, kMaxNameLength - extension.size()) + extension;
  }
  return safe.empty() ? "document" : safe;
}

ClientSource SourceOf(const std::string& address) {
  unsigned char bytes[16] = {};
  char text[INET6_ADDRSTRLEN] = "";
  if (inet_pton(AF_INET, address.c_str(), bytes) == 1) {
    const std::string canonical = inet_ntop(AF_INET, bytes, text, sizeof text);
    bytes[3] = 0;
    return {canonical, std::string(inet_ntop(AF_INET, bytes, text, sizeof text)) + "/24", canonical};
  }
  if (inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
    const std::string canonical = inet_ntop(AF_INET6, bytes, text, sizeof text);
    std::fill(bytes + 8, bytes + 16, 0);
    const std::string network = std::string(inet_ntop(AF_INET6, bytes, text, sizeof text)) + "/64";
    return {canonical, network, network};
  }
  const std::string kept = RepairUtf8(CutUtf8(address, 64));
  return {kept, kept, kept};
}
