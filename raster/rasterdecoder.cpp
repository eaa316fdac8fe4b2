#include "raster/rasterdecoder.h"

#include "raster/rasterheaders.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Where the next byte belongs.
enum class Phase {
  kFileHeader,
  kPageHeader,
  kLineRepeat,   // the line-repeat byte that opens each line
  kRunCode,      // the byte that opens each run
  kRepeatPixel,  // the one pixel a repeat run stands for
  kLiteral,      // the pixels of a literal run
};

constexpr uint8_t kWhite = 0xFF;  // in both sGray and sRGB
constexpr uint8_t kFillWhite = 128;

}  // namespace

struct RasterDecoder::State {
  State(RasterFormat format, RasterSink* sink, const RasterLimits& limits)
      : format(format), sink(sink), limits(limits) {
    ExpectHeader(Phase::kFileHeader, RasterFileHeaderSize(format));
  }

  const RasterFormat format;
  RasterSink* const sink;
  const RasterLimits limits;
  RasterStatus status = RasterStatus::kOk;
  std::string error;

  Phase phase = Phase::kFileHeader;
  std::vector<uint8_t> header;  // the header being gathered, whole before it is read
  size_t headerFill = 0;
  uint32_t announcedPages = 0;  // 0: the document does not say
  uint32_t pages = 0;
  RasterPage page;

  // The line being decoded: the only pixels held.
  std::vector<uint8_t> line;
  size_t lineFill = 0;  // bytes decoded
  size_t pixelSize = 0;
  uint32_t linesLeft = 0;
  uint32_t lineRepeat = 0;
  size_t runLeft = 0;  // bytes of the current pixel (repeat run) or of the literal run to come
  size_t runPixels = 0;

  RasterStatus Fail(const std::string& what) {
    status = RasterStatus::kFault;
    error = what;
    return status;
  }
  RasterStatus FailInPage(const std::string& what) {
    return Fail("page " + std::to_string(page.pageNumber) + ", line " + std::to_string(page.height - linesLeft + 1) +
                ": " + what);
  }
  RasterStatus Stop() {
    status = RasterStatus::kStopped;
    return status;
  }

  void ExpectHeader(Phase next, size_t size) {
    phase = next;
    header.resize(size);
    headerFill = 0;
  }

  void ReadFileHeader() {
    std::string wrong = ReadRasterFileHeader(format, header.data(), announcedPages);
    if (!wrong.empty()) {
      Fail(wrong);
      return;
    }
    ExpectHeader(Phase::kPageHeader, RasterPageHeaderSize(format));
  }

  void ReadPageHeader() {
    uint32_t total = 0;
    uint32_t number = pages + 1;
    std::string wrong = ReadRasterPageHeader(format, header.data(), limits, page, total);
    page.pageNumber = number;
    if (!wrong.empty()) {
      Fail("page " + std::to_string(number) + ": " + wrong);
      return;
    }
    if (pages == 0 && format == RasterFormat::kPwg) announcedPages = total;
    if (announcedPages > limits.maxPages) {
      Fail("the document announces " + std::to_string(announcedPages) + " pages, past the limit of " +
           std::to_string(limits.maxPages));
      return;
    }
    if (number > limits.maxPages) {
      Fail("page " + std::to_string(number) + " is past the limit of " + std::to_string(limits.maxPages) + " pages");
      return;
    }
    if (announcedPages != 0 && number > announcedPages) {
      Fail("page " + std::to_string(number) + " is past the " + std::to_string(announcedPages) +
           " pages the document announces");
      return;
    }
    pages = number;
    pixelSize = page.bitsPerPixel / 8;
    line.assign(size_t{page.width} * pixelSize, kWhite);
    linesLeft = page.height;
    phase = Phase::kLineRepeat;
    if (sink != nullptr && !sink->BeginPage(page)) Stop();
  }

  // A run of `count` pixels is to come: refuse it when it would overflow the line.
  bool FitsLine(size_t count, const char* kind) {
    if (count * pixelSize <= line.size() - lineFill) return true;
    FailInPage(std::string("a ") + kind + " run of " + std::to_string(count) + " pixels overflows the line at pixel " +
               std::to_string(lineFill / pixelSize) + " of " + std::to_string(page.width));
    return false;
  }

  // The bytes of the line so far are decoded: hands the line on when it is whole.
  void RunDone() {
    if (lineFill < line.size()) {
      phase = Phase::kRunCode;
      return;
    }
    uint32_t repeat = std::min(lineRepeat + 1, linesLeft);
    linesLeft -= repeat;
    if (sink != nullptr && !sink->Line(line.data(), repeat)) {
      Stop();
      return;
    }
    if (linesLeft > 0) {
      phase = Phase::kLineRepeat;
      return;
    }
    if (sink != nullptr && !sink->EndPage()) {
      Stop();
      return;
    }
    ExpectHeader(Phase::kPageHeader, RasterPageHeaderSize(format));
  }

  void RunCode(uint8_t code) {
    if (code == kFillWhite) {
      std::fill(line.begin() + static_cast<std::ptrdiff_t>(lineFill), line.end(), kWhite);
      lineFill = line.size();
      RunDone();
    } else if (code < kFillWhite) {
      runPixels = size_t{code} + 1;
      if (!FitsLine(runPixels, "repeat")) return;
      runLeft = pixelSize;
      phase = Phase::kRepeatPixel;
    } else {
      size_t count = 257 - size_t{code};
      if (!FitsLine(count, "literal")) return;
      runLeft = count * pixelSize;
      phase = Phase::kLiteral;
    }
  }

  // The pixel of a repeat run is whole in the line: copies it over the run's length,
  // doubling what is copied each time (a colour pixel a time is three times slower).
  void RepeatPixel() {
    uint8_t* first = line.data() + lineFill;
    const size_t size = runPixels * pixelSize;
    if (pixelSize == 1) {
      std::memset(first + 1, *first, size - 1);
    } else {
      for (size_t done = pixelSize; done < size; done *= 2)
        std::memcpy(first + done, first, std::min(done, size - done));
    }
    lineFill += size;
    RunDone();
  }

  // Takes what it can of [at, end) for the current phase; returns where it stopped.
  const uint8_t* Take(const uint8_t* at, const uint8_t* end) {
    switch (phase) {
      case Phase::kFileHeader:
      case Phase::kPageHeader: {
        size_t n = std::min(header.size() - headerFill, static_cast<size_t>(end - at));
        std::memcpy(header.data() + headerFill, at, n);
        headerFill += n;
        if (headerFill == header.size()) {
          if (phase == Phase::kFileHeader) {
            ReadFileHeader();
          } else {
            ReadPageHeader();
          }
        }
        return at + n;
      }
      case Phase::kLineRepeat:
        lineRepeat = *at;
        lineFill = 0;
        phase = Phase::kRunCode;
        return at + 1;
      case Phase::kRunCode:
        RunCode(*at);
        return at + 1;
      case Phase::kRepeatPixel: {
        // Gathered in place, at the start of the run.
        size_t n = std::min(runLeft, static_cast<size_t>(end - at));
        std::memcpy(line.data() + lineFill + (pixelSize - runLeft), at, n);
        runLeft -= n;
        if (runLeft == 0) RepeatPixel();
        return at + n;
      }
      case Phase::kLiteral: {
        size_t n = std::min(runLeft, static_cast<size_t>(end - at));
        std::memcpy(line.data() + lineFill, at, n);
        lineFill += n;
        runLeft -= n;
        if (runLeft == 0) RunDone();
        return at + n;
      }
    }
    return end;
  }
};

RasterDecoder::RasterDecoder(RasterFormat format, RasterSink* sink, const RasterLimits& limits)
    : state_(std::make_unique<State>(format, sink, limits)) {}

RasterDecoder::~RasterDecoder() = default;

RasterStatus RasterDecoder::Feed(const uint8_t* bytes, size_t length) {
  State& s = *state_;
  const uint8_t* end = bytes + length;
  for (const uint8_t* at = bytes; at < end && s.status == RasterStatus::kOk;) at = s.Take(at, end);
  return s.status;
}

RasterStatus RasterDecoder::Finish() {
  State& s = *state_;
  if (s.status != RasterStatus::kOk) return s.status;
  switch (s.phase) {
    case Phase::kFileHeader:
      return s.Fail(s.headerFill == 0 ? "the document is empty" : "the document ends inside its file header");
    case Phase::kPageHeader:
      if (s.headerFill != 0) {
        return s.Fail("the document ends inside the header of page " + std::to_string(s.pages + 1));
      }
      break;
    default:
      return s.FailInPage("the document ends inside the page, " + std::to_string(s.linesLeft) + " of its " +
                          std::to_string(s.page.height) + " lines missing");
  }
  if (s.pages == 0) return s.Fail("the document holds no page");
  if (s.announcedPages != 0 && s.pages != s.announcedPages) {
    return s.Fail("the document ends after " + std::to_string(s.pages) + " of the " + std::to_string(s.announcedPages) +
                  " pages it announces");
  }
  return s.status;
}

uint32_t RasterDecoder::Pages() const { return state_->pages; }

const std::string& RasterDecoder::Error() const { return state_->error; }
