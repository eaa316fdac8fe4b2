#include "platform/md5.h"

std::string Md5Hex(std::string_view text) {
  const auto digest = Md5Digest(text);
  if (!digest) return {};
  constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const uint8_t byte : *digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}
