// Sheet sizes named as libcups names them: its table is the oracle for ours.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include "platform/pwgmedia.h"

namespace {

std::string CupsName(int width, int length) {
  const pwg_media_t* media = pwgMediaForSize(width, length);
  return media ? media->pwg : "";
}

TEST(PwgMediaTest, SizesAreNamedAsLibcupsNamesThem) {
  // The sizes drivers offer, as Windows reports them in tenths of a millimetre, either
  // way round, a little off, and sizes no standard has.
  const struct {
    int width;
    int length;
  } sizes[] = {{2100, 2970}, {2159, 2794}, {2794, 2159}, {2159, 3556}, {1480, 2100}, {1050, 1480},
               {2970, 4200}, {1820, 2570}, {2500, 3530}, {1100, 2200}, {1048, 2413}, {1016, 1524},
               {1270, 1778}, {889, 1270},  {1000, 1480}, {1000, 1500}, {2794, 4318}, {1397, 2159},
               {2159, 3302}, {2032, 2540}, {984, 1905},  {1842, 2667}, {1620, 2290}, {1140, 1620},
               {2104, 2973}, {1234, 2345}, {1827, 2565}, {500, 500}};
  for (const auto& size : sizes) {
    const int width = size.width * 10;
    const int length = size.length * 10;
    EXPECT_EQ(PwgMediaNameForSize(width, length), CupsName(std::min(width, length), std::max(width, length)))
        << size.width << " x " << size.length;
  }
  // Half a millimetre off is still the size; more is not.
  EXPECT_EQ(PwgMediaNameForSize(21050, 29650), "iso_a4_210x297mm");
  EXPECT_EQ(PwgMediaNameForSize(21060, 29700), CupsName(21060, 29700));
  EXPECT_EQ(PwgMediaNameForSize(12345, 23456), "custom_123.45x234.56mm_123.45x234.56mm");
  EXPECT_EQ(PwgMediaNameForSize(0, 29700), "");
}

TEST(PwgMediaTest, TheDefaultComesFirstAndEachNameOnce) {
  EXPECT_EQ(DefaultMediaFirst({"na_letter_8.5x11in", "iso_a4_210x297mm", "", "na_letter_8.5x11in"}, "iso_a4_210x297mm"),
            (std::vector<std::string>{"iso_a4_210x297mm", "na_letter_8.5x11in"}));
  EXPECT_EQ(DefaultMediaFirst({"iso_a5_148x210mm"}, "iso_a4_210x297mm"), std::vector<std::string>{"iso_a5_148x210mm"});
  EXPECT_EQ(DefaultMediaFirst({}, ""), std::vector<std::string>{});
}

}  // namespace
