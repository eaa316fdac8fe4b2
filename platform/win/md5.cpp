#include "platform/md5.h"

#include <windows.h>
#include <bcrypt.h>

namespace {

// Opened once and kept for the process: the provider may be shared by threads.
BCRYPT_ALG_HANDLE Md5Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    return BCryptOpenAlgorithmProvider(&handle, BCRYPT_MD5_ALGORITHM, nullptr, 0) >= 0 ? handle : nullptr;
  }();
  return provider;
}

}  // namespace

std::optional<std::array<uint8_t, 16>> Md5Digest(std::string_view text) {
  std::array<uint8_t, 16> digest{};
  const BCRYPT_ALG_HANDLE provider = Md5Provider();
  if (!provider || BCryptHash(provider, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())),
                              static_cast<ULONG>(text.size()), digest.data(), digest.size()) < 0) {
    return std::nullopt;
  }
  return digest;
}
