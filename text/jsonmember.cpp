#include "text/jsonmember.h"

#include <cstdlib>

namespace {

constexpr char kBlanks[] = " \t\r\n";

// `code` (below U+10000) in UTF-8; a lone surrogate comes out as the bytes it would be,
// which are not valid UTF-8.
void AppendUtf8(std::string& text, unsigned long code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xc0 | code >> 6);
    text += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    text += static_cast<char>(0xe0 | code >> 12);
    text += static_cast<char>(0x80 | (code >> 6 & 0x3f));
    text += static_cast<char>(0x80 | (code & 0x3f));
  }
}

// The string that starts after the quote at `at`, unescaped.
std::string StringAt(const std::string& json, size_t at) {
  std::string value;
  for (; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] == '\\' && at + 1 < json.size()) {
      ++at;
      if (json[at] == 'u' && at + 4 < json.size()) {
        AppendUtf8(value, std::strtoul(json.substr(at + 1, 4).c_str(), nullptr, 16));
        at += 4;
        continue;
      }
    }
    value += json[at];
  }
  return value;
}

}  // namespace

std::string JsonMember(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\"";
  // The name may also stand as another member's value: only a name has a colon after it.
  for (auto at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
    auto next = json.find_first_not_of(kBlanks, at + key.size());
    if (next == std::string::npos || json[next] != ':') continue;
    next = json.find_first_not_of(kBlanks, next + 1);
    if (next == std::string::npos) return "";
    if (json[next] == '"') return StringAt(json, next + 1);
    const auto end = json.find_first_of(",}] \t\r\n", next);
    return json.substr(next, end == std::string::npos ? std::string::npos : end - next);
  }
  return "";
}
