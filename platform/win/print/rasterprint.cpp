// PWG and Apple rasters drawn on the default printer with StretchDIBits, a band of lines
// at a time at the device's resolution, so that no page is ever held whole.
#include <algorithm>
#include <cstdio>
#include <vector>
#include <windows.h>

#include "platform/pwgmedia.h"
#include "platform/win/print/windowsprint.h"
#include "platform/win/widetext.h"

namespace {

// Lines are gathered into bands of about this many bytes before they are drawn.
constexpr size_t kBandBytes = 256 * 1024;

// Feeds the whole file to the decoder; the decoder's verdict, kFault when the file
// cannot be read.
RasterStatus DecodeFile(const std::string& path, RasterDecoder& decoder) {
  FILE* file = _wfopen(ToWidePath(path).c_str(), L"rb");
  if (file == nullptr) return RasterStatus::kFault;
  std::vector<uint8_t> buffer(64 * 1024);
  RasterStatus status = RasterStatus::kOk;
  size_t length = 0;
  while (status == RasterStatus::kOk && (length = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    status = decoder.Feed(buffer.data(), length);
  }
  const bool readError = std::ferror(file) != 0;
  std::fclose(file);
  if (status == RasterStatus::kOk) status = decoder.Finish();
  return readError ? RasterStatus::kFault : status;
}

// Keeps the first page's header, for the paper and sides the document asks for.
class FirstPage : public RasterSink {
 public:
  bool BeginPage(const RasterPage& page) override {
    if (page.pageNumber == 1) page_ = page;
    return true;
  }
  bool Line(const uint8_t*, uint32_t) override { return true; }
  bool EndPage() override { return true; }
  const RasterPage& Page() const { return page_; }

 private:
  RasterPage page_;
};

// A device-independent bitmap header with room for a 256-entry palette.
struct BandInfo {
  BITMAPINFOHEADER header;
  RGBQUAD palette[256];
};

// Draws each page on the printer DC: decoded lines are turned into DIB rows (gray with
// a gray palette, or BGR) in a band, and the band is stretched from the raster's
// resolution to the device's, placed where the sheet's edge lies.
class PrinterSink : public RasterSink {
 public:
  explicit PrinterSink(HDC dc) : dc_(dc) {
    dpiX_ = GetDeviceCaps(dc, LOGPIXELSX);
    dpiY_ = GetDeviceCaps(dc, LOGPIXELSY);
    offsetX_ = GetDeviceCaps(dc, PHYSICALOFFSETX);
    offsetY_ = GetDeviceCaps(dc, PHYSICALOFFSETY);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
  }
  bool Failed() const { return failed_; }

  bool BeginPage(const RasterPage& page) override {
    page_ = page;
    const uint32_t bytesPerPixel = page.bitsPerPixel / 8;
    stride_ = (page.width * bytesPerPixel + 3) & ~3u;  // DIB rows end on 4 bytes
    bandCapacity_ = std::max<uint32_t>(1, static_cast<uint32_t>(kBandBytes / stride_));
    band_.assign(static_cast<size_t>(stride_) * bandCapacity_, 0);
    bandLines_ = 0;
    line_ = 0;
    info_ = {};
    info_.header.biSize = sizeof info_.header;
    info_.header.biWidth = static_cast<LONG>(page.width);
    info_.header.biPlanes = 1;
    info_.header.biBitCount = static_cast<WORD>(page.bitsPerPixel);
    info_.header.biCompression = BI_RGB;
    if (!page.color) {
      info_.header.biClrUsed = 256;
      for (int level = 0; level < 256; ++level) {
        const auto v = static_cast<BYTE>(level);
        info_.palette[level] = {v, v, v, 0};
      }
    }
    return Check(StartPage(dc_) > 0);
  }

  bool Line(const uint8_t* pixels, uint32_t repeat) override {
    // A repeated line is drawn once, stretched over the lines it stands for.
    if (repeat > 1 && !Flush()) return false;
    uint8_t* row = band_.data() + static_cast<size_t>(bandLines_) * stride_;
    if (page_.color) {
      for (uint32_t x = 0; x < page_.width; ++x, pixels += 3) {
        row[3 * x] = pixels[2];
        row[3 * x + 1] = pixels[1];
        row[3 * x + 2] = pixels[0];
      }
    } else {
      std::copy_n(pixels, page_.width, row);
    }
    ++bandLines_;
    if (repeat > 1) return Draw(repeat);
    return bandLines_ < bandCapacity_ || Flush();
  }

  bool EndPage() override { return Flush() && Check(::EndPage(dc_) > 0); }

 private:
  bool Check(bool ok) {
    failed_ = failed_ || !ok;
    return ok;
  }
  bool Flush() { return bandLines_ == 0 || Draw(bandLines_); }

  // Draws the band's lines over `lines` raster lines from the current line on.
  bool Draw(uint32_t lines) {
    const auto deviceX = [this](int64_t x) { return static_cast<int>(x * dpiX_ / page_.resolutionX) - offsetX_; };
    const auto deviceY = [this](int64_t y) { return static_cast<int>(y * dpiY_ / page_.resolutionY) - offsetY_; };
    const int top = deviceY(line_);
    const int bottom = deviceY(line_ + lines);
    info_.header.biHeight = -static_cast<LONG>(bandLines_);  // top-down rows
    const int drawn = bottom <= top ? 1
                                    : StretchDIBits(dc_, deviceX(0), top, deviceX(page_.width) - deviceX(0),
                                                    bottom - top, 0, 0, static_cast<int>(page_.width),
                                                    static_cast<int>(bandLines_), band_.data(),
                                                    reinterpret_cast<const BITMAPINFO*>(&info_), DIB_RGB_COLORS, SRCCOPY);
    line_ += lines;
    bandLines_ = 0;
    return Check(drawn != 0 && drawn != static_cast<int>(GDI_ERROR));
  }

  HDC dc_;
  int dpiX_ = 0, dpiY_ = 0, offsetX_ = 0, offsetY_ = 0;
  RasterPage page_;
  BandInfo info_{};
  std::vector<uint8_t> band_;
  uint32_t stride_ = 0;
  uint32_t bandCapacity_ = 0;
  uint32_t bandLines_ = 0;
  uint32_t line_ = 0;  // raster lines of the page drawn so far
  bool failed_ = false;
};

}  // namespace

SubmitResult PrintRasterDocument(const std::string& path, RasterFormat format, const std::string& title,
                                 PageSettings settings) {
  FirstPage first;
  RasterDecoder check(format, &first);
  if (DecodeFile(path, check) != RasterStatus::kOk) return {0, ERROR_INVALID_DATA};
  const RasterPage& page = first.Page();
  if (settings.media.empty()) {
    // Hundredths of a millimetre.
    settings.media = PwgMediaNameForSize(static_cast<int>(int64_t{page.width} * 2540 / page.resolutionX),
                                         static_cast<int>(int64_t{page.height} * 2540 / page.resolutionY));
  }
  if (settings.duplex == 0 && page.duplex) settings.duplex = DMDUP_VERTICAL;

  int error = 0;
  const PrinterDc dc = CreateDefaultPrinterDc(settings, error);
  if (!dc) return {0, error};
  if (!StartPrinterDocument(dc.get(), title, error)) return {0, error};
  PrinterSink printer(dc.get());
  RasterDecoder draw(format, &printer);
  const RasterStatus status = DecodeFile(path, draw);
  if (status != RasterStatus::kOk || printer.Failed()) {
    // Whatever went wrong after the check (the file changed, the printer failed), the
    // spooler drops what was drawn.
    error = printer.Failed() ? static_cast<int>(GetLastError()) : ERROR_INVALID_DATA;
    AbortDoc(dc.get());
    return {0, error != 0 ? error : ERROR_PRINT_CANCELLED};
  }
  return {0, EndDoc(dc.get()) > 0 ? 0 : static_cast<int>(GetLastError())};
}
