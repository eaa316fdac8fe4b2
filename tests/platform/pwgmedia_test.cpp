// Sheet sizes named as libcups names them: its table is the oracle for ours.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include "platform/pwgmedia.h"

namespace {

TEST(PwgMediaTest, SizesAreNamedAsLibcupsNamesThem) {
  // Drivers' sizes in tenths of a millimetre, as Windows gives them: standard ones, either
  // way round, a little off, and sizes no standard has.
  const std::pair<int, int> sizes[] = {
      {2100, 2970}, {2159, 2794}, {2794, 2159}, {2159, 3556}, {1480, 2100}, {1050, 1480}, {2970, 4200},
      {1820, 2570}, {2500, 3530}, {1100, 2200}, {1048, 2413}, {1016, 1524}, {1270, 1778}, {889, 1270},
      {1000, 1480}, {1000, 1500}, {2794, 4318}, {1397, 2159}, {2159, 3302}, {2032, 2540}, {984, 1905},
      {1842, 2667}, {1620, 2290}, {1140, 1620}, {2104, 2973}, {2106, 2970}, {1234, 2345}, {1827, 2565}};
  for (const auto& [width, length] : sizes) {
    const pwg_media_t* cups = pwgMediaForSize(std::min(width, length) * 10, std::max(width, length) * 10);
    EXPECT_EQ(PwgMediaNameForSize(width * 10, length * 10), cups ? cups->pwg : "") << width << " x " << length;
  }
  EXPECT_EQ(PwgMediaNameForSize(0, 29700), "");
}

}  // namespace
