// A driverless job's document on the default printer: PDF through the PDF viewer, JPEG
// through GDI+, the rasters drawn by us.
#include "print/printer.h"

#include <windows.h>

#include "platform/win/print/windowsprint.h"

namespace {

// How long the viewer may take to hand a PDF to the spooler. The spool file is removed
// once the job is printed, so the viewer must have read it by then.
constexpr DWORD kViewerTimeoutMs = 5 * 60 * 1000;

// The job's copies and sides as the viewer's -print-settings take them.
std::string ViewerSettingsOf(const PageSettings& settings) {
  std::string text;
  if (settings.copies > 1) text = std::to_string(settings.copies) + "x";
  if (settings.duplex != 0) {
    if (!text.empty()) text += ",";
    text += settings.duplex == DMDUP_VERTICAL ? "duplexlong" : settings.duplex == DMDUP_HORIZONTAL ? "duplexshort"
                                                                                                   : "simplex";
  }
  return text;
}

// The viewer's exit code is the outcome; the spooler's job is the viewer's to follow.
SubmitResult PrintPdfWithViewer(const std::string& path, const PageSettings& settings) {
  const HANDLE viewer = StartPdfViewer(path, ViewerSettingsOf(settings));
  if (viewer == nullptr) return {0, IsEmptyFile(path) ? ERROR_INVALID_DATA : static_cast<int>(GetLastError())};
  DWORD code = STILL_ACTIVE;
  const bool ended = WaitForSingleObject(viewer, kViewerTimeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(viewer, &code);
  CloseHandle(viewer);
  if (!ended) return {0, WAIT_TIMEOUT};
  return {0, static_cast<int>(code)};
}

}  // namespace

SubmitResult PrintDriverlessDocument(const std::string& path, const std::string& mimeType, const std::string& title,
                                     const PrintOptions& options) {
  PageSettings settings = PageSettingsOf(options);
  if (mimeType == "application/pdf") return PrintPdfWithViewer(path, settings);
  // Colour unless the job asks for monochrome, as the printer says by default; a
  // printer without colour keeps its monochrome.
  if (settings.color == 0) settings.color = DMCOLOR_COLOR;
  if (mimeType == "image/pwg-raster") return PrintRasterDocument(path, RasterFormat::kPwg, title, settings);
  if (mimeType == "image/urf") return PrintRasterDocument(path, RasterFormat::kUrf, title, settings);
  if (mimeType == "image/jpeg") return {0, PrintImageDocument(path, title, settings)};
  return {0, ERROR_NOT_SUPPORTED};
}
