#include "platform/clock.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {

TEST(UnixTimeToFileTime, KnownInstants) {
  EXPECT_EQ(UnixTimeToFileTime(0, 0), kFileTimeUnixEpoch);
  // 2000-01-01T00:00:00Z
  EXPECT_EQ(UnixTimeToFileTime(946684800, 0), 125911584000000000ULL);
  EXPECT_EQ(UnixTimeToFileTime(1, 999999999), kFileTimeUnixEpoch + 19999999);
  // 1601-01-01 itself, and anything earlier, which the scale cannot hold.
  EXPECT_EQ(UnixTimeToFileTime(-11644473600LL, 0), 0u);
  EXPECT_EQ(UnixTimeToFileTime(-11644473601LL, 0), 0u);
}

// The local clock follows the time zone: east of UTC it runs ahead, west behind.
class LocalFileTime : public testing::Test {
protected:
  void TearDown() override {
    unsetenv("TZ");
    tzset();
  }

  // GetLocalFileTime minus the UTC time, in whole minutes, under the zone `tz`.
  static long long OffsetMinutesUnder(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
    const uint64_t utc = UnixTimeToFileTime(time(nullptr), 0);
    const uint64_t local = GetLocalFileTime();
    const double ticks = static_cast<double>(static_cast<int64_t>(local - utc));
    return std::llround(ticks / 600000000.0);  // rounded to the minute
  }
};

TEST_F(LocalFileTime, FollowsTheZoneOffset) {
  EXPECT_EQ(OffsetMinutesUnder("UTC0"), 0);
  EXPECT_EQ(OffsetMinutesUnder("XYZ-3"), 180);        // three hours east
  EXPECT_EQ(OffsetMinutesUnder("XYZ+5:30"), -330);    // five and a half hours west
}

}  // namespace
