// The print methods where the system supplies them (Windows): outside programs, the
// shell's verb and GDI+. A file with nothing in it prints nothing, whatever its kind.
#include "print/printer.h"

#include <cerrno>
#include <filesystem>

#include "platform/printmethods.h"
#include "print/imagelayout.h"

namespace {

bool IsEmptyFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::file_size(std::filesystem::u8path(path), error) == 0 && !error;
}

}  // namespace

bool PrintPdfFile(const std::string& path) { return !IsEmptyFile(path) && StartPdfViewerPrint(path); }

bool PrintWordFile(const std::string& path) { return !IsEmptyFile(path) && StartWordPrint(path); }

int PrintWithShellVerb(const std::string& path) { return IsEmptyFile(path) ? ENODATA : ShellPrintVerb(path); }

int PrintHtmlFile(const std::string& path) { return IsEmptyFile(path) ? EINVAL : StartHtmlPrint(path); }

int PrintImageFile(const std::string& path) {
  return PrintImageOnDefaultPrinter(path, [](float sheetWidth, float sheetHeight, float imageWidth, float imageHeight) {
    const ImagePlacement placement = PlaceImageOnSheet(sheetWidth, sheetHeight, imageWidth, imageHeight);
    return std::array<float, 4>{placement.x, placement.y, placement.width, placement.height};
  });
}
