#include "relay/addressrate.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kHour = 3600;
// Past this many buckets the full ones, which say nothing, are dropped.
constexpr size_t kPruneAbove = 10000;

// The address itself, or its /64 network for IPv6.
std::string Network(const std::string& address) {
  in6_addr v6{};
  if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
  std::memset(v6.s6_addr + 8, 0, 8);
  char text[INET6_ADDRSTRLEN];
  return inet_ntop(AF_INET6, &v6, text, sizeof text) ? std::string(text) + "/64" : address;
}

}  // namespace

long long AddressRate::Take(const std::string& address, long long now) {
  std::lock_guard lock(mutex_);
  const auto refilled = [&](const Bucket& bucket) {
    return std::min(perHour_, bucket.left + static_cast<double>(now - bucket.at) * perHour_ / kHour);
  };
  if (buckets_.size() > kPruneAbove) {
    std::erase_if(buckets_, [&](const auto& entry) { return refilled(entry.second) >= perHour_; });
  }
  Bucket& bucket = buckets_.try_emplace(Network(address), Bucket{perHour_, now}).first->second;
  bucket.left = refilled(bucket);
  bucket.at = now;
  if (bucket.left >= 1) {
    bucket.left -= 1;
    return 0;
  }
  return static_cast<long long>(std::ceil((1 - bucket.left) * kHour / perHour_));
}
