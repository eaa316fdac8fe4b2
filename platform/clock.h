// The local wall-clock time as a FILETIME: 100-ns ticks since 1601-01-01, local time.
#pragma once

#include <cstdint>

// One day in FILETIME ticks.
constexpr uint64_t kFileTimeDay = 864000000000ULL;

uint64_t GetLocalFileTime();
