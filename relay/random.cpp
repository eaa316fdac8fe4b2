#include "relay/random.h"

#include <sys/random.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr char kCodeAlphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";

std::vector<uint8_t> RandomBytes(size_t count) {
  std::vector<uint8_t> bytes(count);
  size_t filled = 0;
  while (filled < count) {
    const ssize_t got = getrandom(bytes.data() + filled, count - filled, 0);
    // Without a random source no secret can be made; going on would hand out guessable ones.
    if (got < 0) std::abort();
    filled += static_cast<size_t>(got);
  }
  return bytes;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace

std::string RandomHex(size_t bytes) { return Hex(RandomBytes(bytes)); }

std::string RandomUuid() {
  std::vector<uint8_t> bytes = RandomBytes(16);
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);
  const std::string hex = Hex(bytes);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20);
}

std::string RandomAuthCode() {
  constexpr size_t kAlphabetSize = sizeof kCodeAlphabet - 1;
  std::string code;
  // Rejection keeps every character equally likely.
  while (code.size() < 6) {
    for (const uint8_t byte : RandomBytes(8)) {
      if (byte < 256 / kAlphabetSize * kAlphabetSize && code.size() < 6) code += kCodeAlphabet[byte % kAlphabetSize];
    }
  }
  return code;
}
