#include "print/printer.h"

#include <cerrno>

#include "platform/filetypes.h"
#include "platform/linux/print/office.h"
#include "platform/spooler.h"
#include "print/jobfiles.h"

namespace {

// The spooler calls a file of unknown content "application/octet-stream" and sends it to
// the printer raw; that prints garbage, so such a file is never submitted.
const char kUnknownType[] = "application/octet-stream";
const char kPlainText[] = "text/plain";

bool LibreOfficeOpens(const std::string& mimeType) {
  for (const std::string& program : ApplicationsOpening(mimeType)) {
    const std::string name = BaseName(program);
    if (name == "soffice" || name.starts_with("libreoffice")) return true;
  }
  return false;
}

}  // namespace

bool PrintPdfFile(const std::string& path) {
  return SubmitToDefaultQueue(path, "application/pdf", BaseName(path)).error == 0;
}

bool PrintWordFile(const std::string& path) {
  const std::string office = FindOfficeProgram();
  return !office.empty() && StartOfficePrint(office, path) == 0;
}

int PrintWithShellVerb(const std::string& path) {
  const std::string mimeType = DetectFileMimeType(path);
  if (mimeType != kUnknownType && DefaultQueueAcceptsFormat(mimeType)) {
    return SubmitToDefaultQueue(path, mimeType, BaseName(path)).error;
  }
  // Text of a kind the spooler does not name (a README, a log, source code) prints as
  // the text it is, on the printer's own paper.
  if (MimeTypeIsA(mimeType, kPlainText) && DefaultQueueAcceptsFormat(kPlainText)) {
    return SubmitToDefaultQueue(path, kPlainText, BaseName(path)).error;
  }
  if (mimeType != kUnknownType && LibreOfficeOpens(mimeType)) {
    const std::string office = FindOfficeProgram();
    return office.empty() ? ENOENT : StartOfficePrint(office, path);
  }
  return ENOEXEC;
}
