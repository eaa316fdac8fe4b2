// A per-address allowance of some request (a bucket of `perHour` that refills evenly
// over the hour). IPv6 clients count per /64 network, which one subscriber usually holds
// whole. Kept in memory: each relay process rations on its own.
#pragma once

#include <map>
#include <mutex>
#include <string>

class AddressRate {
public:
  explicit AddressRate(long long perHour) : perHour_(static_cast<double>(perHour)) {}

  // 0 when `address` may go ahead now (the request is counted), else the seconds it waits.
  long long Take(const std::string& address, long long now);

private:
  struct Bucket {
    double left;
    long long at;  // when `left` was counted
  };
  const double perHour_;
  std::mutex mutex_;
  std::map<std::string, Bucket> buckets_;
};
