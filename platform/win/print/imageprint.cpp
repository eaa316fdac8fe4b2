// One image drawn with GDI+ on a device context of the default printer, fitted and
// centred on the sheet.
#include "print/printer.h"

#include <memory>
#include <vector>
#include <windows.h>
#include <objidl.h>  // GDI+ needs the COM types that the lean windows.h leaves out
#include <gdiplus.h>

#include "platform/win/print/printerdc.h"
#include "platform/win/print/windowsprint.h"
#include "platform/win/widetext.h"
#include "print/imagelayout.h"

namespace {

// GDI+ for the length of one job.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  ~GdiplusSession() {
    if (started_) Gdiplus::GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool Started() const { return started_; }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

int LastError() { return static_cast<int>(GetLastError()); }

// A multi-page TIFF prints its first page, an animated GIF its first frame.
void SelectFirstFrame(Gdiplus::Image& image) {
  const UINT count = image.GetFrameDimensionsCount();
  if (count == 0) return;
  std::vector<GUID> dimensions(count);
  image.GetFrameDimensionsList(dimensions.data(), count);
  GUID chosen = dimensions.front();
  for (const GUID& dimension : dimensions) {
    if (dimension == Gdiplus::FrameDimensionPage) chosen = dimension;
  }
  image.SelectActiveFrame(&chosen, 0);
}

}  // namespace

int PrintImageDocument(const std::string& path, const std::string& title, const PageSettings& settings) {
  GdiplusSession gdiplus;
  if (!gdiplus.Started()) return ERROR_NOT_ENOUGH_MEMORY;
  // The image is decoded before any job exists: a file that is no image prints no page.
  Gdiplus::Image image(ToWidePath(path).c_str());
  if (image.GetLastStatus() != Gdiplus::Ok || image.GetWidth() == 0 || image.GetHeight() == 0 ||
      image.GetHorizontalResolution() <= 0 || image.GetVerticalResolution() <= 0) {
    return ERROR_INVALID_DATA;
  }
  int error = 0;
  const PrinterDc dc = CreateDefaultPrinterDc(settings, error);
  if (!dc) return error;
  if (!StartPrinterDocument(dc.get(), title, error)) return error;
  StartPage(dc.get());
  {
    Gdiplus::Graphics graphics(dc.get());
    SelectFirstFrame(image);
    graphics.SetPageUnit(Gdiplus::UnitInch);
    const float sheetWidth = static_cast<float>(GetDeviceCaps(dc.get(), PHYSICALWIDTH)) /
                             static_cast<float>(GetDeviceCaps(dc.get(), LOGPIXELSX));
    const float sheetHeight = static_cast<float>(GetDeviceCaps(dc.get(), PHYSICALHEIGHT)) /
                              static_cast<float>(GetDeviceCaps(dc.get(), LOGPIXELSY));
    const float imageWidth = static_cast<float>(image.GetWidth()) / image.GetHorizontalResolution();
    const float imageHeight = static_cast<float>(image.GetHeight()) / image.GetVerticalResolution();
    const ImagePlacement placement = PlaceImageOnSheet(sheetWidth, sheetHeight, imageWidth, imageHeight);
    graphics.DrawImage(&image, Gdiplus::RectF(placement.x, placement.y, placement.width, placement.height));
  }
  EndPage(dc.get());
  return EndDoc(dc.get()) > 0 ? 0 : LastError();
}

// Draws the first frame of the image file as one page of the job "Image" on the
// default printer, with its default settings. 0 when the job was printed;
// ERROR_INVALID_DATA when the file is no image the system can decode (nothing is
// printed), else the failing step's error code.
int PrintImageFile(const std::string& path) {
  return PrintImageDocument(path, "Image", {});
}
