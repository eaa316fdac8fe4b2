#include "relay/random.h"

#include "platform/random.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr char kCodeAlphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";

std::vector<uint8_t> RandomBytes(size_t count) {
  std::vector<uint8_t> bytes(count);
  // Without a random source no secret can be made; going on would hand out guessable ones.
  if (!FillRandomBytes(bytes.data(), count)) std::abort();
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
  std::string uuid = MakeRandomUuid();
  if (uuid.empty()) std::abort();
  return uuid;
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
