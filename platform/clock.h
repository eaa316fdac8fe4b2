// Time stamps on the FILETIME scale: unsigned 100-ns ticks since 1601-01-01.
// Stateless; callable from any thread.
#pragma once

#include <cstdint>

// One day in FILETIME ticks.
constexpr uint64_t kFileTimeDay = 864000000000ULL;

// Ticks between 1601-01-01 and the Unix epoch 1970-01-01.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

// The local wall-clock time (local time of day, not UTC) as a FILETIME.
uint64_t GetLocalFileTime();

// A Unix time (seconds and nanoseconds since 1970, UTC) as a FILETIME; 0 before 1601.
constexpr uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kEarliestSeconds = -static_cast<int64_t>(kFileTimeUnixEpoch / kTicksPerSecond);
  if (seconds < kEarliestSeconds) return 0;
  return static_cast<uint64_t>(seconds - kEarliestSeconds) * kTicksPerSecond + nanoseconds / 100;
}
