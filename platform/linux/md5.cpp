#include "platform/md5.h"

#include <openssl/evp.h>

std::optional<std::array<uint8_t, 16>> Md5Digest(std::string_view text) {
  std::array<uint8_t, 16> digest{};
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) return std::nullopt;
  return digest;
}
