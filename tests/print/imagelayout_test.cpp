#include <gtest/gtest.h>

#include "print/imagelayout.h"

namespace {

constexpr float kLetterWidth = 8.5f;
constexpr float kLetterHeight = 11.0f;
constexpr float kFourDecimals = 0.00005f;

void ExpectPlacement(const ImagePlacement& placement, float x, float y, float width, float height) {
  EXPECT_NEAR(placement.x, x, kFourDecimals);
  EXPECT_NEAR(placement.y, y, kFourDecimals);
  EXPECT_NEAR(placement.width, width, kFourDecimals);
  EXPECT_NEAR(placement.height, height, kFourDecimals);
}

TEST(ImageLayout, LargeLandscapePhotoShrinksToTheSheetWidthAndCentres) {
  // 4032 x 3024 pixels at 72 dpi.
  ExpectPlacement(PlaceImageOnSheet(kLetterWidth, kLetterHeight, 56.0f, 42.0f), 0.5906f, 2.7554f, 7.3189f,
                  5.4892f);
}

TEST(ImageLayout, SmallImageKeepsItsOwnSizeAndIsCentred) {
  // 300 x 200 pixels at 96 dpi.
  ExpectPlacement(PlaceImageOnSheet(kLetterWidth, kLetterHeight, 300.0f / 96.0f, 200.0f / 96.0f), 2.6875f,
                  4.4583f, 3.1250f, 2.0833f);
}

TEST(ImageLayout, ImageExactlyAsLargeAsTheAreaIsNotRescaled) {
  const float width = kLetterWidth - 2 * kImageMargin;
  const float height = kLetterHeight - 2 * kImageMargin;
  const ImagePlacement placement = PlaceImageOnSheet(kLetterWidth, kLetterHeight, width, height);
  EXPECT_EQ(placement.width, width);
  EXPECT_EQ(placement.height, height);
  EXPECT_NEAR(placement.x, kImageMargin, 1e-6f);
}

TEST(ImageLayout, TallImageShrinksToTheSheetHeight) {
  const ImagePlacement placement = PlaceImageOnSheet(kLetterWidth, kLetterHeight, 10.0f, 40.0f);
  EXPECT_NEAR(placement.height, kLetterHeight - 2 * kImageMargin, kFourDecimals);
  EXPECT_NEAR(placement.width, (kLetterHeight - 2 * kImageMargin) / 4.0f, kFourDecimals);
  EXPECT_NEAR(placement.y, kImageMargin, kFourDecimals);
  EXPECT_NEAR(placement.x, (kLetterWidth - placement.width) / 2.0f, kFourDecimals);
}

TEST(ImageLayout, SheetSmallerThanTheMarginsUsesTheWholeSheet) {
  // A 20 mm label: the margins alone are wider than the label.
  const float label = 20.0f / 25.4f;
  const ImagePlacement placement = PlaceImageOnSheet(label, label, 2.0f, 1.0f);
  EXPECT_GT(placement.width, 0.0f);
  EXPECT_NEAR(placement.width, label, kFourDecimals);
  EXPECT_NEAR(placement.height, label / 2.0f, kFourDecimals);
  EXPECT_NEAR(placement.x, 0.0f, kFourDecimals);
  EXPECT_NEAR(placement.y, label / 4.0f, kFourDecimals);
}

}  // namespace
