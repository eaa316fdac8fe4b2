// Random UUIDs, on every system.
#include "platform/random.h"

#include <array>
#include <cstdint>

std::string MakeRandomUuid() {
  std::array<uint8_t, 16> bytes{};
  if (!FillRandomBytes(bytes.data(), bytes.size())) return {};
  // RFC 9562: version 4, variant 10.
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}
