#include "raster/rasterheaders.h"

#include <cstring>

namespace {

constexpr char kPwgSync[] = "RaS2";
constexpr char kUrfSync[] = "UNIRAST";  // with its terminating zero: 8 bytes

// PWG page header fields, big-endian 32-bit words at these offsets.
constexpr size_t kPwgHeaderSize = 1796;
constexpr char kPwgMediaClass[] = "PwgRaster";  // the first field, zero-padded
constexpr size_t kPwgDuplex = 272;
constexpr size_t kPwgResolution = 276;  // x, then y
constexpr size_t kPwgWidth = 372;
constexpr size_t kPwgHeight = 376;
constexpr size_t kPwgBitsPerColor = 384;
constexpr size_t kPwgBitsPerPixel = 388;
constexpr size_t kPwgBytesPerLine = 392;
constexpr size_t kPwgColorOrder = 396;  // 0: chunky, the only order PWG allows
constexpr size_t kPwgColorSpace = 400;
constexpr size_t kPwgTotalPageCount = 452;
constexpr uint32_t kPwgSGray = 18;
constexpr uint32_t kPwgSRgb = 19;

// URF page header: bytes, then big-endian words.
constexpr size_t kUrfHeaderSize = 32;
constexpr size_t kUrfBitsPerPixel = 0;
constexpr size_t kUrfColorSpace = 1;
constexpr size_t kUrfDuplex = 2;  // 0 or 1: one-sided; 2 short edge, 3 long edge
constexpr size_t kUrfWidth = 12;
constexpr size_t kUrfHeight = 16;
constexpr size_t kUrfResolution = 20;
constexpr uint8_t kUrfSGray = 0;
constexpr uint8_t kUrfSRgb = 1;
constexpr uint8_t kUrfDeviceGray = 4;  // what some senders call their sGray ("W8")
constexpr uint8_t kUrfDeviceRgb = 5;

uint32_t BigEndian32(const uint8_t* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

// Empty when the sizes and kind of the page fit the limits and each other.
std::string CheckPage(const RasterPage& page, uint32_t bitsPerColor, uint32_t bytesPerLine,
                      const RasterLimits& limits) {
  if (page.width == 0 || page.width > limits.maxWidth) {
    return "width " + std::to_string(page.width) + " is outside 1.." + std::to_string(limits.maxWidth);
  }
  if (page.height == 0 || page.height > limits.maxHeight) {
    return "height " + std::to_string(page.height) + " is outside 1.." + std::to_string(limits.maxHeight);
  }
  for (uint32_t dpi : {page.resolutionX, page.resolutionY}) {
    if (dpi == 0 || dpi > limits.maxResolution) {
      return "resolution " + std::to_string(dpi) + " dpi is outside 1.." + std::to_string(limits.maxResolution);
    }
  }
  if (bitsPerColor != 8) return std::to_string(bitsPerColor) + " bits per colour: only 8 are decoded";
  if (page.bitsPerPixel != (page.color ? 24u : 8u)) {
    return std::to_string(page.bitsPerPixel) + " bits per pixel in " + (page.color ? "sRGB" : "sGray") +
           ": only 8-bit sGray and 24-bit sRGB are decoded";
  }
  uint64_t expected = uint64_t{page.width} * page.bitsPerPixel / 8;
  if (bytesPerLine != expected) {
    return std::to_string(bytesPerLine) + " bytes per line where " + std::to_string(page.width) + " pixels make " +
           std::to_string(expected);
  }
  return {};
}

std::string ReadPwgPageHeader(const uint8_t* header, const RasterLimits& limits, RasterPage& page,
                              uint32_t& announcedPages) {
  if (std::memcmp(header, kPwgMediaClass, sizeof kPwgMediaClass) != 0) {
    return "the page header does not begin with \"PwgRaster\"";
  }
  page.width = BigEndian32(header + kPwgWidth);
  page.height = BigEndian32(header + kPwgHeight);
  page.resolutionX = BigEndian32(header + kPwgResolution);
  page.resolutionY = BigEndian32(header + kPwgResolution + 4);
  page.bitsPerPixel = BigEndian32(header + kPwgBitsPerPixel);
  page.duplex = BigEndian32(header + kPwgDuplex) != 0;
  announcedPages = BigEndian32(header + kPwgTotalPageCount);
  uint32_t space = BigEndian32(header + kPwgColorSpace);
  if (space != kPwgSGray && space != kPwgSRgb) {
    return "colour space " + std::to_string(space) + ": only sGray (18) and sRGB (19) are decoded";
  }
  page.color = space == kPwgSRgb;
  if (BigEndian32(header + kPwgColorOrder) != 0) {
    return "colour order " + std::to_string(BigEndian32(header + kPwgColorOrder)) + ": PWG raster is chunky (0)";
  }
  return CheckPage(page, BigEndian32(header + kPwgBitsPerColor), BigEndian32(header + kPwgBytesPerLine), limits);
}

std::string ReadUrfPageHeader(const uint8_t* header, const RasterLimits& limits, RasterPage& page) {
  page.bitsPerPixel = header[kUrfBitsPerPixel];
  page.width = BigEndian32(header + kUrfWidth);
  page.height = BigEndian32(header + kUrfHeight);
  page.resolutionX = page.resolutionY = BigEndian32(header + kUrfResolution);
  page.duplex = header[kUrfDuplex] > 1;
  uint8_t space = header[kUrfColorSpace];
  if (space != kUrfSGray && space != kUrfSRgb && space != kUrfDeviceGray && space != kUrfDeviceRgb) {
    return "colour space " + std::to_string(space) + ": only sGray and sRGB are decoded";
  }
  page.color = space == kUrfSRgb || space == kUrfDeviceRgb;
  // URF says no bits per colour and no line length: both follow from the pixel kind.
  return CheckPage(page, 8, static_cast<uint32_t>(uint64_t{page.width} * page.bitsPerPixel / 8), limits);
}

}  // namespace

size_t RasterFileHeaderSize(RasterFormat format) {
  return format == RasterFormat::kPwg ? sizeof kPwgSync - 1 : sizeof kUrfSync + 4;
}

size_t RasterPageHeaderSize(RasterFormat format) {
  return format == RasterFormat::kPwg ? kPwgHeaderSize : kUrfHeaderSize;
}

std::string ReadRasterFileHeader(RasterFormat format, const uint8_t* header, uint32_t& announcedPages) {
  announcedPages = 0;
  if (format == RasterFormat::kPwg) {
    if (std::memcmp(header, kPwgSync, sizeof kPwgSync - 1) != 0)
      return "not a PWG raster: it does not begin with \"RaS2\"";
    return {};
  }
  if (std::memcmp(header, kUrfSync, sizeof kUrfSync) != 0)
    return "not an Apple raster: it does not begin with \"UNIRAST\"";
  announcedPages = BigEndian32(header + sizeof kUrfSync);
  return {};
}

std::string ReadRasterPageHeader(RasterFormat format, const uint8_t* header, const RasterLimits& limits,
                                 RasterPage& page, uint32_t& announcedPages) {
  page = RasterPage{};
  announcedPages = 0;
  if (format == RasterFormat::kPwg) return ReadPwgPageHeader(header, limits, page, announcedPages);
  return ReadUrfPageHeader(header, limits, page);
}
