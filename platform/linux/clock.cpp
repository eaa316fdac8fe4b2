#include "platform/clock.h"

#include <ctime>

uint64_t GetLocalFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // The zone's offset at this instant (daylight saving included) turns UTC into local time.
  tm local{};
  const long offset = localtime_r(&now.tv_sec, &local) ? local.tm_gmtoff : 0;
  return UnixTimeToFileTime(static_cast<int64_t>(now.tv_sec) + offset, static_cast<uint32_t>(now.tv_nsec));
}
