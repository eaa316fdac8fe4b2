#include "print/printer.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "platform/process.h"
#include "platform/spooler.h"
#include "print/jobfiles.h"
#include "print/office.h"

namespace {

// "file://" and the path with every byte outside the unreserved set and '/' escaped.
std::string FileUrl(const std::string& absolutePath) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const unsigned char c : absolutePath) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0F];
    }
  }
  return url;
}

std::vector<std::string> ChromiumCommand(const std::string& chromium, const std::string& folder,
                                         const std::string& output, const std::string& path) {
  // Without the networking switches headless Chromium waits for services it cannot reach
  // on a closed network; the profile is thrown away with the work folder.
  std::vector<std::string> command = {chromium,
                                      "--headless",
                                      "--disable-gpu",
                                      "--no-first-run",
                                      "--disable-background-networking",
                                      "--disable-component-update",
                                      "--disable-sync",
                                      "--no-pdf-header-footer",
                                      "--user-data-dir=" + folder + "/profile",
                                      "--print-to-pdf=" + output};
  // Chromium refuses to run as root inside its sandbox.
  if (geteuid() == 0) command.emplace_back("--no-sandbox");
  command.push_back(FileUrl(AbsolutePath(path)));
  return command;
}

std::vector<std::string> OfficeCommand(const std::string& office, const std::string& folder,
                                       const std::string& path) {
  // A profile of its own, so a LibreOffice the user has open does not swallow the request;
  // the page is read as a text document, as the web view's export gives blank pages.
  return {office,         "--headless", "-env:UserInstallation=" + FileUrl(folder + "/profile"),
          "--infilter=HTML (StarWriter)", "--convert-to", "pdf", "--outdir", folder, AbsolutePath(path)};
}

// The PDF the renderer left in `folder`; empty when it made none.
std::string FindRenderedPdf(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".pdf" && entry.is_regular_file(error)) return entry.path().string();
  }
  return {};
}

}  // namespace

int PrintHtmlFile(const std::string& path) {
  const std::string chromium = FindProgramOnPath("chromium");
  const std::string office = chromium.empty() ? FindOfficeProgram() : std::string();
  if (chromium.empty() && office.empty()) return ENOENT;

  const std::string folder = MakeWorkFolder();
  if (folder.empty()) return errno != 0 ? errno : EIO;
  const std::vector<std::string> command = !chromium.empty()
                                               ? ChromiumCommand(chromium, folder, folder + "/page.pdf", path)
                                               : OfficeCommand(office, folder, path);

  // The caller does not wait: the finished page is submitted when the renderer ends.
  const std::string title = BaseName(path);
  const int error = StartDetachedProcess(command, [folder, title](int) {
    if (const std::string pdf = FindRenderedPdf(folder); !pdf.empty()) {
      SubmitToDefaultQueue(pdf, "application/pdf", title);
    }
    RemoveWorkFolder(folder);
  });
  if (error != 0) RemoveWorkFolder(folder);
  return error;
}
