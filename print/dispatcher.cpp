#include "print/printer.h"

#include <array>
#include <string_view>

#include "shell/fileextension.h"

namespace {

constexpr std::array<std::string_view, 3> kHtmlExtensions = {".html", ".htm", ".shtml"};
constexpr std::array<std::string_view, 10> kImageExtensions = {".jpg", ".jpe",  ".jpeg", ".jfif", ".bmp",
                                                               ".gif", ".tif",  ".tiff", ".png",  ".ico"};
constexpr std::array<std::string_view, 3> kWordExtensions = {".doc", ".docx", ".rtf"};

template <size_t N>
bool IsOneOf(const std::string& extension, const std::array<std::string_view, N>& table) {
  for (const std::string_view entry : table) {
    if (extension == entry) return true;
  }
  return false;
}

// Only 'A' to 'Z' are lowered: ".PDF" matches ".pdf", anything non-ASCII stays as it is.
std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

bool PrintFile(const std::string& path) {
  const auto dot = GetFileExtension(path);
  const std::string extension = LowerAscii(dot == std::string::npos ? std::string() : path.substr(dot));

  if (extension == ".pdf") return PrintPdfFile(path);
  if (IsOneOf(extension, kHtmlExtensions)) return PrintHtmlFile(path) == 0;
  if (IsOneOf(extension, kImageExtensions)) return PrintImageFile(path) == 0;
  // A word-processor document falls back to the by-type printing only without the word processor.
  if (IsOneOf(extension, kWordExtensions) && PrintWordFile(path)) return true;
  return PrintWithShellVerb(path) == 0;
}
