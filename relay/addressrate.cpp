#include "relay/addressrate.h"

#include <algorithm>
#include <cmath>

#include "relay/names.h"

namespace {

constexpr double kHour = 3600;
// Past this many buckets the full ones, which say nothing, are dropped.
constexpr size_t kPruneAbove = 10000;

}  // namespace

long long AddressRate::Take(const std::string& address, long long now) {
  std::lock_guard lock(mutex_);
  const auto refilled = [&](const Bucket& bucket) {
    return std::min(perHour_, bucket.left + static_cast<double>(now - bucket.at) * perHour_ / kHour);
  };
  if (buckets_.size() > kPruneAbove) {
    std::erase_if(buckets_, [&](const auto& entry) { return refilled(entry.second) >= perHour_; });
  }
  Bucket& bucket = buckets_.try_emplace(SourceOf(address).subscriber, Bucket{perHour_, now}).first->second;
  bucket.left = refilled(bucket);
  bucket.at = now;
  if (bucket.left >= 1) {
    bucket.left -= 1;
    return 0;
  }
  return static_cast<long long>(std::ceil((1 - bucket.left) * kHour / perHour_));
}
