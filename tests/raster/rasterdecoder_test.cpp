// The decoder on rasters ghostscript made (make_rasters.sh), checked against the PGM and
// PPM pages it drew, and on the same rasters cut short, lying about themselves or with
// runs that overflow their lines.
#include "raster/rasterdecoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sample(const std::string& name) {
  std::ifstream in(std::string(OLVARO_RASTER_SAMPLES) + "/" + name, std::ios::binary);
  Bytes bytes{std::istreambuf_iterator<char>(in), {}};
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

// The pixels of a PGM or PPM as ghostscript writes it: magic, a comment, size, 255.
Bytes PnmPixels(const std::string& name) {
  Bytes file = Sample(name);
  size_t at = 0;
  for (int line = 0; line < 4 && at < file.size(); ++at) line += file[at] == '\n';
  return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.end());
}

struct Recorder : RasterSink {
  std::vector<RasterPage> pages;
  std::vector<Bytes> pixels;  // each page whole, its repeated lines written out
  bool BeginPage(const RasterPage& page) override {
    pages.push_back(page);
    pixels.emplace_back();
    return true;
  }
  bool Line(const uint8_t* line, uint32_t repeat) override {
    size_t size = pages.back().width * pages.back().bitsPerPixel / 8;
    for (uint32_t i = 0; i < repeat; ++i) pixels.back().insert(pixels.back().end(), line, line + size);
    return true;
  }
  bool EndPage() override { return true; }
};

// Feeds `bytes` in pieces of the sizes `piece` gives, then ends the document.
RasterStatus Decode(RasterDecoder& decoder, const Bytes& bytes, const std::function<size_t()>& piece) {
  for (size_t at = 0; at < bytes.size();) {
    size_t n = std::min(piece(), bytes.size() - at);
    if (RasterStatus status = decoder.Feed(bytes.data() + at, n); status != RasterStatus::kOk) return status;
    at += n;
  }
  return decoder.Finish();
}

const size_t kWhole = SIZE_MAX;
RasterFormat FormatOf(const std::string& name) {
  return name.ends_with(".pwg") ? RasterFormat::kPwg : RasterFormat::kUrf;
}
// The standard layouts: file header, page header sizes; the fields the lies below change.
size_t FileHeader(RasterFormat f) { return f == RasterFormat::kPwg ? 4 : 12; }
size_t PageHeader(RasterFormat f) { return f == RasterFormat::kPwg ? 1796 : 32; }
void Put32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

TEST(RasterDecoder, GivesBackWhatGhostscriptDrew) {
  for (std::string kind : {"gray", "color"}) {
    std::string pnm = kind == "gray" ? ".pgm" : ".ppm";
    Bytes drawn[] = {PnmPixels(kind + "-1" + pnm), PnmPixels(kind + "-2" + pnm)};
    for (std::string name : {kind + ".pwg", kind + ".urf"}) {
      Bytes raster = Sample(name);
      unsigned seed = 1;
      std::function<size_t()> pieces[] = {[] { return kWhole; }, [] { return size_t{1}; },
                                          [&seed] { return size_t{(seed = seed * 75 + 74) % 3000 + 1}; }};
      for (auto& piece : pieces) {
        SCOPED_TRACE(name + " fed in piece sizes of kind " + std::to_string(&piece - pieces));
        Recorder sink;
        RasterDecoder decoder(FormatOf(name), &sink);
        ASSERT_EQ(Decode(decoder, raster, piece), RasterStatus::kOk) << decoder.Error();
        EXPECT_EQ(decoder.Pages(), 2u);
        ASSERT_EQ(sink.pages.size(), 2u);
        for (size_t p = 0; p < 2; ++p) {
          const RasterPage& page = sink.pages[p];
          EXPECT_EQ(page.width, p == 0 ? 900u : 600u);
          EXPECT_EQ(page.height, p == 0 ? 600u : 900u);
          EXPECT_EQ(page.resolutionX, 300u);
          EXPECT_EQ(page.resolutionY, 300u);
          EXPECT_EQ(page.bitsPerPixel, kind == "gray" ? 8u : 24u);
          EXPECT_EQ(page.color, kind == "color");
          EXPECT_TRUE(page.duplex);
          EXPECT_EQ(page.pageNumber, p + 1);
          // Ghostscript's gray raster devices round some grays one step away from its PGM.
          ASSERT_EQ(sink.pixels[p].size(), drawn[p].size());
          int tolerance = kind == "gray" ? 1 : 0;
          size_t off = 0;
          for (size_t i = 0; i < drawn[p].size(); ++i) off += std::abs(sink.pixels[p][i] - drawn[p][i]) > tolerance;
          EXPECT_EQ(off, 0u) << "pixels of page " << p + 1 << " unlike ghostscript's";
        }
      }
    }
  }
}

TEST(RasterDecoder, RefusesRastersThatContradictThemselves) {
  struct Case {
    std::string sample, why;
    std::function<void(Bytes&, RasterFormat, RasterLimits&)> change;
    std::string error;
  };
  auto cut = [](size_t keep) { return [keep](Bytes& b, RasterFormat, RasterLimits&) { b.resize(keep); }; };
  auto fromEnd = [](size_t drop) { return [drop](Bytes& b, RasterFormat, RasterLimits&) { b.resize(b.size() - drop); }; };
  auto page1 = [](Bytes& b, RasterFormat f) { return Bytes(b.begin(), b.begin() + FileHeader(f) + PageHeader(f)); };
  // Page 1's header, then lines of runs of 128 pixels: the eighth runs past its 900 pixels.
  auto overflowing = [&](uint8_t code, size_t pixelBytes) {
    return [=](Bytes& b, RasterFormat f, RasterLimits&) {
      b = page1(b, f);
      for (int run = 0; run < 8; ++run) {
        if (run == 0) b.push_back(0);
        b.push_back(code);
        b.insert(b.end(), code < 128 ? 1 : 128 * pixelBytes, 0x40);
      }
    };
  };
  Case cases[] = {
      {"gray.pwg", "empty", cut(0), "the document is empty"},
      {"gray.urf", "inside the file header", cut(5), "ends inside its file header"},
      {"gray.pwg", "only a file header", cut(4), "holds no page"},
      {"gray.urf", "inside page 1's header", cut(30), "ends inside the header of page 1"},
      {"color.pwg", "inside page 1", cut(20000), "ends inside the page"},
      {"color.urf", "a byte short", fromEnd(1), "page 2, line 802: the document ends inside the page"},
      {"gray.pwg", "another sync word", [](Bytes& b, RasterFormat, RasterLimits&) { Put32(b, 0, 0x52615333); }, "\"RaS2\""},
      {"gray16.pwg", "16 bits per colour", {}, "16 bits per colour"},
      {"gray16.urf", "16 bits per colour", {}, "16 bits per pixel"},
      {"black1.pwg", "1-bit black", {}, "colour space"},
      {"black1.urf", "1-bit black", {}, "1 bits per pixel"},
      {"gray.pwg", "wider than the limit", [](Bytes&, RasterFormat, RasterLimits& l) { l.maxWidth = 899; }, "page 1: width 900"},
      {"gray.urf", "taller than the limit", [](Bytes&, RasterFormat, RasterLimits& l) { l.maxHeight = 600; }, "page 2: height 900"},
      {"color.urf", "finer than the limit", [](Bytes&, RasterFormat, RasterLimits& l) { l.maxResolution = 299; }, "resolution 300"},
      {"color.pwg", "more pages than the limit", [](Bytes&, RasterFormat, RasterLimits& l) { l.maxPages = 1; }, "page 2 is past the limit"},
      {"gray.urf", "announcing 1 page", [](Bytes& b, RasterFormat, RasterLimits&) { Put32(b, 8, 1); }, "past the 1 pages"},
      {"gray.urf", "announcing 3 pages", [](Bytes& b, RasterFormat, RasterLimits&) { Put32(b, 8, 3); }, "after 2 of the 3 pages"},
      {"gray.pwg", "TotalPageCount 3", [](Bytes& b, RasterFormat, RasterLimits&) { Put32(b, 4 + 452, 3); }, "after 2 of the 3"},
      {"color.pwg", "BytesPerLine one too many", [](Bytes& b, RasterFormat, RasterLimits&) { Put32(b, 4 + 392, 2701); }, "2701 bytes per line"},
      {"gray.pwg", "page 2's header on page 1's lines",
       [](Bytes& b, RasterFormat f, RasterLimits&) {
         for (size_t at = b.size() - 4; at > FileHeader(f); --at)
           if (std::equal(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at) + 9, "PwgRaster")) {
             std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at), PageHeader(f), b.begin() + static_cast<std::ptrdiff_t>(FileHeader(f)));
             break;
           }
       }, "overflows the line"},
      {"gray.urf", "a repeat run past the line", overflowing(127, 1), "page 1, line 1: a repeat run of 128 pixels overflows the line at pixel 896 of 900"},
      {"color.pwg", "a literal run past the line", overflowing(129, 3), "a literal run of 128 pixels overflows"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.sample + ", " + c.why);
    Bytes bytes = Sample(c.sample);
    RasterFormat format = FormatOf(c.sample);
    RasterLimits limits;
    if (c.change) c.change(bytes, format, limits);
    RasterDecoder decoder(format, nullptr, limits);
    EXPECT_EQ(Decode(decoder, bytes, [] { return size_t{4096}; }), RasterStatus::kFault);
    EXPECT_NE(decoder.Error().find(c.error), std::string::npos) << decoder.Error();
    EXPECT_EQ(decoder.Feed(bytes.data(), 1), RasterStatus::kFault) << "a fault ends the document";
  }
}

// Run 128 whitens the rest of a line; a line repeated past the page's end is cut there.
TEST(RasterDecoder, FillsLinesWithWhiteAndCutsRepeats) {
  Bytes raster = Sample("gray.pwg");
  raster.resize(4 + 1796);
  for (int group = 0; group < 3; ++group) raster.insert(raster.end(), {255, 0, 0x10, 128});
  Recorder sink;
  RasterDecoder decoder(RasterFormat::kPwg, &sink);
  ASSERT_EQ(Decode(decoder, raster, [] { return kWhole; }), RasterStatus::kOk) << decoder.Error();
  ASSERT_EQ(sink.pixels.size(), 1u);
  ASSERT_EQ(sink.pixels[0].size(), 900u * 600u) << "the third 256 lines cut to the 88 left";
  for (size_t i = 0; i < sink.pixels[0].size(); ++i) ASSERT_EQ(sink.pixels[0][i], i % 900 ? 255 : 0x10) << i;
}

// A sink that says no stops the document without a fault; no sink only checks it.
TEST(RasterDecoder, StopsWhenTheSinkSaysNoAndChecksWithoutOne) {
  struct Refuser : Recorder {
    bool EndPage() override { return false; }
  } refuser;
  Bytes raster = Sample("color.urf");
  RasterDecoder stopped(RasterFormat::kUrf, &refuser);
  EXPECT_EQ(Decode(stopped, raster, [] { return kWhole; }), RasterStatus::kStopped);
  EXPECT_EQ(stopped.Pages(), 1u);
  EXPECT_EQ(stopped.Error(), "");
  RasterDecoder checker(RasterFormat::kUrf, nullptr);
  EXPECT_EQ(Decode(checker, raster, [] { return size_t{1}; }), RasterStatus::kOk);
  EXPECT_EQ(checker.Pages(), 2u);
}

}  // namespace
