// The decoder on rasters ghostscript made (make_rasters.sh), checked against the PGM and
// PPM pages it drew, and on the same rasters cut short, lying or overflowing their lines.
#include "raster/rasterdecoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Pieces = std::function<size_t()>;  // the sizes the bytes are fed in
const Pieces kWhole = [] { return SIZE_MAX; };

Bytes Sample(const std::string& name, size_t skipLines = 0) {
  std::ifstream in(std::string(OLVARO_RASTER_SAMPLES) + "/" + name, std::ios::binary);
  Bytes bytes{std::istreambuf_iterator<char>(in), {}};
  EXPECT_FALSE(bytes.empty()) << name << " missing: is ghostscript installed?";
  auto at = bytes.begin();  // past a PGM's or PPM's head: magic, comment, size, 255
  for (size_t line = 0; line < skipLines && at != bytes.end();) line += *at++ == '\n';
  return Bytes(at, bytes.end());
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
    for (uint32_t i = 0; i < repeat; ++i) {
      pixels.back().insert(pixels.back().end(), line, line + pages.back().width * pages.back().bitsPerPixel / 8);
    }
    return true;
  }
  bool EndPage() override { return true; }
};

RasterStatus Decode(RasterDecoder& decoder, const Bytes& bytes, const Pieces& piece) {
  for (size_t at = 0, n = 0; at < bytes.size(); at += n) {
    n = std::min(piece(), bytes.size() - at);
    if (RasterStatus status = decoder.Feed(bytes.data() + at, n); status != RasterStatus::kOk) return status;
  }
  return decoder.Finish();
}

RasterFormat FormatOf(const std::string& name) {
  return name.ends_with(".pwg") ? RasterFormat::kPwg : RasterFormat::kUrf;
}
void Put32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

TEST(RasterDecoder, GivesBackWhatGhostscriptDrew) {
  for (std::string kind : {"gray", "color"}) {
    const bool color = kind == "color";
    std::string pnm = color ? ".ppm" : ".pgm";
    Bytes drawn[] = {Sample(kind + "-1" + pnm, 4), Sample(kind + "-2" + pnm, 4)};
    for (std::string name : {kind + ".pwg", kind + ".urf"}) {
      unsigned seed = 1;
      Pieces pieces[] = {kWhole, [] { return size_t{1}; }, [&seed] { return (seed = seed * 75 + 74) % 3000 + 1; }};
      for (const Pieces& piece : pieces) {
        SCOPED_TRACE(name + " fed in pieces of kind " + std::to_string(&piece - pieces));
        Recorder sink;
        RasterDecoder decoder(FormatOf(name), &sink);
        ASSERT_EQ(Decode(decoder, Sample(name), piece), RasterStatus::kOk) << decoder.Error();
        ASSERT_EQ(decoder.Pages(), 2u);
        ASSERT_EQ(sink.pages.size(), 2u);
        for (uint32_t p = 0; p < 2; ++p) {
          const RasterPage& page = sink.pages[p];
          EXPECT_EQ(std::tuple(page.width, page.height, page.resolutionX, page.resolutionY, page.bitsPerPixel),
                    std::tuple(p ? 600u : 900u, p ? 900u : 600u, 300u, 300u, color ? 24u : 8u));
          EXPECT_EQ(std::tuple(page.color, page.duplex, page.pageNumber), std::tuple(color, true, p + 1));
          // Ghostscript's gray raster devices round some grays one step away from its PGM.
          ASSERT_EQ(sink.pixels[p].size(), drawn[p].size());
          size_t unlike = 0;
          for (size_t i = 0; i < drawn[p].size(); ++i) unlike += std::abs(sink.pixels[p][i] - drawn[p][i]) > !color;
          EXPECT_EQ(unlike, 0u) << "pixels of page " << p + 1 << " unlike ghostscript's";
        }
      }
    }
  }
}

TEST(RasterDecoder, RefusesRastersThatContradictThemselves) {
  using Change = std::function<void(Bytes&, RasterLimits&)>;
  auto cut = [](ptrdiff_t keep) -> Change {
    return [=](Bytes& b, RasterLimits&) { b.resize(keep < 0 ? b.size() + keep : keep); };
  };
  auto put = [](size_t at, uint32_t value) -> Change { return [=](Bytes& b, RasterLimits&) { Put32(b, at, value); }; };
  // Page 1's header, then a line of runs of 128 pixels: the eighth runs past its 900.
  auto overflow = [](size_t headers, uint8_t code, size_t pixelBytes) -> Change {
    return [=](Bytes& b, RasterLimits&) {
      b.resize(headers);
      b.push_back(0);
      for (int run = 0; run < 8; ++run) {
        b.push_back(code);
        b.insert(b.end(), code < 128 ? 1 : 128 * pixelBytes, 0x40);
      }
    };
  };
  const size_t pwg = 4, urf = 12, pwgPage = pwg + 1796, urfPage = urf + 32;  // the headers' sizes
  const std::tuple<std::string, std::string, Change, std::string> cases[] = {
      {"gray.pwg", "empty", cut(0), "the document is empty"},
      {"gray.urf", "inside the file header", cut(5), "ends inside its file header"},
      {"gray.pwg", "only a file header", cut(pwg), "holds no page"},
      {"gray.urf", "inside page 1's header", cut(30), "ends inside the header of page 1"},
      {"color.pwg", "inside page 1", cut(20000),
       "page 1, line 400: the document ends inside the page, 201 of its 600 lines missing"},
      {"color.urf", "a byte short", cut(-1), "page 2, line 802: the document ends inside the page"},
      {"gray.pwg", "another sync word", put(0, 0x52615333), "\"RaS2\""},
      {"gray16.pwg", "16 bits per colour", {}, "16 bits per colour"},
      {"gray16.urf", "16 bits per colour", {}, "16 bits per pixel"},
      {"black1.pwg", "1-bit black", {}, "colour space"},
      {"black1.urf", "1-bit black", {}, "1 bits per pixel"},
      {"gray.pwg", "wider than the limit", [](Bytes&, RasterLimits& l) { l.maxWidth = 899; }, "page 1: width 900"},
      {"gray.urf", "taller than the limit", [](Bytes&, RasterLimits& l) { l.maxHeight = 600; }, "page 2: height 900"},
      {"color.urf", "finer than the limit", [](Bytes&, RasterLimits& l) { l.maxResolution = 299; }, "resolution 300"},
      {"color.pwg", "more pages than the limit", [](Bytes&, RasterLimits& l) { l.maxPages = 1; },
       "page 2 is past the limit"},
      {"gray.urf", "announcing 1 page", put(8, 1), "page 2 is past the 1 pages"},
      {"gray.urf", "announcing 3 pages", put(8, 3), "after 2 of the 3 pages"},
      {"gray.urf", "announcing 10001 pages", put(8, 10001), "announces 10001 pages, past the limit of 10000"},
      {"gray.pwg", "TotalPageCount 3", put(pwg + 452, 3), "after 2 of the 3 pages"},
      {"color.pwg", "BytesPerLine one too many", put(pwg + 392, 2701), "2701 bytes per line"},
      {"gray.urf", "a width one short", put(urf + 12, 899), "overflows the line"},
      {"gray.urf", "a repeat run past the line", overflow(urfPage, 127, 1),
       "page 1, line 1: a repeat run of 128 pixels overflows the line at pixel 896 of 900"},
      {"color.pwg", "a literal run past the line", overflow(pwgPage, 129, 3), "a literal run of 128 pixels overflows"},
  };
  for (auto& [sample, why, change, error] : cases) {
    SCOPED_TRACE(sample + ", " + why);
    Bytes bytes = Sample(sample);
    RasterLimits limits;
    if (change) change(bytes, limits);
    RasterDecoder decoder(FormatOf(sample), nullptr, limits);
    EXPECT_EQ(Decode(decoder, bytes, [] { return size_t{4096}; }), RasterStatus::kFault);
    EXPECT_NE(decoder.Error().find(error), std::string::npos) << decoder.Error();
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
  ASSERT_EQ(Decode(decoder, raster, kWhole), RasterStatus::kOk) << decoder.Error();
  ASSERT_EQ(sink.pixels.size(), 1u);
  ASSERT_EQ(sink.pixels[0].size(), 900u * 600u) << "the third 256 lines cut to the 88 left";
  for (size_t i = 0; i < sink.pixels[0].size(); ++i) ASSERT_EQ(sink.pixels[0][i], i % 900 ? 255 : 0x10) << i;
}

// A sink that says no stops the document without a fault; no sink only checks it.
TEST(RasterDecoder, StopsWhenTheSinkSaysNoAndChecksWithoutOne) {
  struct Refuser : Recorder {
    bool EndPage() override { return false; }
  } refuser;
  RasterDecoder stopped(RasterFormat::kUrf, &refuser);
  EXPECT_EQ(Decode(stopped, Sample("color.urf"), kWhole), RasterStatus::kStopped);
  EXPECT_EQ(std::tuple(stopped.Pages(), stopped.Error()), std::tuple(1u, std::string()));
  RasterDecoder checker(RasterFormat::kUrf, nullptr);
  EXPECT_EQ(Decode(checker, Sample("color.urf"), [] { return size_t{1}; }), RasterStatus::kOk);
  EXPECT_EQ(checker.Pages(), 2u);
}

}  // namespace
