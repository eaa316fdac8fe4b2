// A streaming decoder of the two raster formats phones and CUPS send to a driverless
// printer: PWG raster ("RaS2") and Apple raster ("UNIRAST"). Bytes go in as they arrive;
// pages and lines come out one at a time, so that no page is ever held whole. Every size,
// run and count is checked against the page header and the limits; the first fault ends
// the document. Portable: nothing but the standard library. A decoder serves one
// document, on one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class RasterFormat {
  kPwg,  // image/pwg-raster
  kUrf,  // image/urf
};

// A page as its header describes it.
struct RasterPage {
  uint32_t width = 0;           // pixels per line
  uint32_t height = 0;          // lines
  uint32_t resolutionX = 0;     // dots per inch
  uint32_t resolutionY = 0;
  uint32_t bitsPerPixel = 0;    // 8 (gray) or 24 (sRGB), the only kinds decoded
  bool color = false;           // sRGB, else sGray
  bool duplex = false;          // the page asks for two-sided printing
  uint32_t pageNumber = 0;      // 1 for the first page
};

struct RasterLimits {
  uint32_t maxWidth = 20000;      // pixels
  uint32_t maxHeight = 30000;     // lines
  uint32_t maxResolution = 1200;  // dpi
  uint32_t maxPages = 10000;
};

// Receives the decoded document. A false result ends decoding (the document is then
// reported as stopped, not as faulty).
class RasterSink {
public:
  virtual ~RasterSink() = default;
  virtual bool BeginPage(const RasterPage& page) = 0;
  // One decoded line of the current page: width * bitsPerPixel / 8 bytes, gray or R,G,B
  // in that order. `repeat` is how many times the line stands (the line-repeat count + 1,
  // cut to the lines the page has left).
  virtual bool Line(const uint8_t* pixels, uint32_t repeat) = 0;
  virtual bool EndPage() = 0;
};

enum class RasterStatus {
  kOk,       // nothing wrong so far
  kStopped,  // the sink asked to stop
  kFault,    // the raster contradicts its header or the limits: see Error()
};

class RasterDecoder {
public:
  // `sink` may be nullptr to only check the document (and count its pages).
  RasterDecoder(RasterFormat format, RasterSink* sink, const RasterLimits& limits = {});
  ~RasterDecoder();
  RasterDecoder(const RasterDecoder&) = delete;
  RasterDecoder& operator=(const RasterDecoder&) = delete;

  // Decodes what it can of these bytes; the rest waits for the next call.
  RasterStatus Feed(const uint8_t* bytes, size_t length);
  // The document has ended: kFault when it stopped inside a header or a page, or held no
  // page at all.
  RasterStatus Finish();

  // Pages begun so far.
  uint32_t Pages() const;
  // What was wrong, for the log and the job's state message; empty while kOk.
  const std::string& Error() const;

private:
  struct State;
  std::unique_ptr<State> state_;
};
