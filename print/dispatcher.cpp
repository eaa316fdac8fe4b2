#include "print/printer.h"

#include <array>
#include <cerrno>
#include <string_view>

#include "base/fileextension.h"
#include "platform/spooler.h"
#include "text/ascii.h"

namespace {

constexpr std::array<std::string_view, 3> kHtmlExtensions = {".html", ".htm", ".shtml"};
constexpr std::array<std::string_view, 10> kImageExtensions = {".jpg", ".jpe",  ".jpeg", ".jfif", ".bmp",
                                                               ".gif", ".tif",  ".tiff", ".png",  ".ico"};
constexpr std::array<std::string_view, 3> kWordExtensions = {".doc", ".docx", ".rtf"};
constexpr char kRefused[] = "the print system refused the job";

template <size_t N>
bool IsOneOf(const std::string& extension, const std::array<std::string_view, N>& table) {
  for (const std::string_view entry : table) {
    if (extension == entry) return true;
  }
  return false;
}

// Hands the file to the method its extension picks; "" when it took the document, else
// why not.
std::string HandOver(const std::string& path) {
  const auto dot = GetFileExtension(path);
  const std::string extension = LowerAscii(dot == std::string::npos ? std::string() : path.substr(dot));

  if (extension == ".pdf") return PrintPdfFile(path) ? "" : kRefused;
  if (IsOneOf(extension, kHtmlExtensions)) {
    return PrintHtmlFile(path) == 0 ? "" : "no program here can print web pages (install Chromium or LibreOffice)";
  }
  if (IsOneOf(extension, kImageExtensions)) {
    const int error = PrintImageFile(path);
    return error == 0 ? "" : error == EINVAL ? "the picture cannot be read" : kRefused;
  }
  // A word-processor document falls back to the by-type printing only without the word processor.
  if (IsOneOf(extension, kWordExtensions) && PrintWordFile(path)) return "";
  const int error = PrintWithShellVerb(path);
  if (error == 0) return "";
  if (error == ENOEXEC) return "no program here can print this kind of file";
  if (error == ENODATA) return "the file is empty";
  return kRefused;
}

}  // namespace

PrintOutcome PrintDocument(const std::string& path) {
  PrintOutcome outcome;
  outcome.printer = GetDefaultPrintQueue();
  if (outcome.printer.empty()) {
    outcome.reason = "no printer is installed";
    return outcome;
  }
  outcome.reason = HandOver(path);
  // A stopped queue takes the job and holds it: the user has to start the printer.
  if (outcome.reason.empty() && IsDefaultQueueStopped()) {
    outcome.reason = "the printer " + outcome.printer + " is stopped; the document waits in its queue";
  }
  outcome.printed = outcome.reason.empty();
  return outcome;
}

bool PrintFile(const std::string& path) { return PrintDocument(path).printed; }
