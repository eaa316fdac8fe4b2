#include "print/imagelayout.h"

ImagePlacement PlaceImageOnSheet(float sheetWidth, float sheetHeight, float imageWidth, float imageHeight) {
  float availableWidth = sheetWidth - 2 * kImageMargin;
  float availableHeight = sheetHeight - 2 * kImageMargin;
  // A sheet no larger than the two margins (a label) would give a negative scale, a
  // mirrored picture off the sheet; the whole sheet is the area there.
  if (availableWidth <= 0 || availableHeight <= 0) {
    availableWidth = sheetWidth;
    availableHeight = sheetHeight;
  }

  // Never enlarged; shrunk by the tighter of the two ratios when either side overflows.
  float scale = 1.0f;
  if (availableWidth < imageWidth || availableHeight < imageHeight) {
    const float heightRatio = availableHeight / imageHeight;
    const float widthRatio = availableWidth / imageWidth;
    scale = heightRatio < widthRatio ? heightRatio : widthRatio;
  }

  ImagePlacement placement;
  placement.width = scale * imageWidth;
  placement.height = scale * imageHeight;
  placement.x = (sheetWidth - placement.width) / 2.0f;
  placement.y = (sheetHeight - placement.height) / 2.0f;
  return placement;
}
