// A PC's identity as a key of fixed size, for what the relay keeps per PC in memory:
// identities are 36 characters, and a key of its own saves a string's separate buffer
// for each of a hundred thousand PCs.
#pragma once

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <string_view>

using PcKey = std::array<char, 36>;

struct PcKeyHash {
  size_t operator()(const PcKey& key) const noexcept {
    return std::hash<std::string_view>()(std::string_view(key.data(), key.size()));
  }
};

// False when `uuid` cannot be an identity.
inline bool ToPcKey(const std::string& uuid, PcKey& key) {
  if (uuid.size() != key.size()) return false;
  std::copy(uuid.begin(), uuid.end(), key.begin());
  return true;
}
