// Where an image lands on the sheet: kept at its own size when it fits inside the
// margins, shrunk uniformly when not, and centred. Pure arithmetic; any thread.
#pragma once

// 15 mm in inches, the single-precision number nearest to 15 / 25.4.
constexpr float kImageMargin = 0.5905512f;

// A rectangle on the sheet, in inches from the sheet's top left corner.
struct ImagePlacement {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
};

// All lengths in inches; the image's size is its pixel count over its resolution.
ImagePlacement PlaceImageOnSheet(float sheetWidth, float sheetHeight, float imageWidth, float imageHeight);
