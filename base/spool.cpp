#include "base/spool.h"

#include <string_view>
#include <utility>

#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/tempfolder.h"
#include "base/spool-private.h"
#include "base/fileextension.h"
#include "text/utf8.h"

namespace {

constexpr char kSpoolFolderName[] = "OlvaroDesktop/";
constexpr std::string_view kReservedCharacters = "\"*+,/:;<=>?[\\]";
// File systems take at most 255 bytes for one name.
constexpr std::string::size_type kMaxNameBytes = 255;
// Tries on names chosen afresh when another writer takes the chosen one first.
constexpr int kCreateAttempts = 100;
// Room an upload leaves free, so that a document never fills the disk the user works on.
constexpr int64_t kSpareSpoolBytes = 16LL * 1024 * 1024;

// True when `path` names an entry directly inside `folder` (which ends in '/').
bool IsDirectlyInside(const std::string& folder, const std::string& path) {
  return !folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path.find_first_of(std::string_view("/\0", 2), folder.size()) == std::string::npos;
}

}  // namespace

std::string GetSpoolFolderPath() { return GetUserTempFolder() + kSpoolFolderName; }

std::string GetSpoolFolder() {
  const std::string folder = GetSpoolFolderPath();
  return EnsurePrivateFolder(folder) ? folder : std::string();
}

void SanitizeNamePart(std::string& text) {
  for (char& c : text) {
    if (kReservedCharacters.find(c) != std::string_view::npos) c = '_';
  }
}

std::string MakeSpoolFileName(const std::string& name, const std::string& prefix, const std::string& suffix) {
  // A name ends at its first NUL, as it would as a C string; the system would cut it there anyway.
  const std::string uploaded = name.substr(0, name.find('\0'));
  const auto dot = GetFileExtension(uploaded);
  std::string base = uploaded.substr(0, dot);
  std::string extension = dot == std::string::npos ? std::string() : uploaded.substr(dot);
  SanitizeNamePart(base);
  SanitizeNamePart(extension);

  // The base (and, if it alone is too long, the extension) is shortened so the name fits.
  const auto room = kMaxNameBytes - prefix.size() - suffix.size();
  extension = CutUtf8(extension, room);
  return prefix + CutUtf8(base, room - extension.size()) + suffix + extension;
}

std::string MakeSpoolPath(const std::string& name) {
  const std::string folder = GetSpoolFolder();
  if (folder.empty()) return {};

  // The numbering looks only at what exists now; an empty name first meets the folder itself.
  std::string candidate = folder + MakeSpoolFileName(name);
  for (unsigned n = 2; PathExists(candidate); ++n) {
    candidate = folder + MakeSpoolFileName(name, "", " " + std::to_string(n));
  }
  return candidate;
}

CNewFile CreateSpoolFile(const std::string& path) {
  return IsDirectlyInside(GetSpoolFolder(), path) ? CNewFile::Create(path) : CNewFile();
}

NewSpoolFile CreateNewSpoolFile(const std::string& name) {
  // Two documents of the same name may be given the same free path; the one that comes
  // second asks again and gets the next free name.
  NewSpoolFile spooled;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    std::string path = MakeSpoolPath(name);
    if (path.empty() || path == spooled.path) break;
    spooled.path = std::move(path);
    spooled.file = CreateSpoolFile(spooled.path);
    if (spooled.file.IsOpen()) return spooled;
  }
  return {};
}

bool RemoveSpoolFile(const std::string& path) {
  const std::string folder = GetSpoolFolder();
  if (!IsDirectlyInside(folder, path)) return false;
  FolderReader reader;
  return reader.Open(folder) && reader.RemoveFile(path.substr(folder.size()));
}

bool SpoolHasRoomFor(int64_t bytes) {
  const std::string folder = GetSpoolFolder();
  const int64_t free = folder.empty() ? -1 : FreeBytesAt(folder);
  return free < 0 || (bytes >= 0 && bytes <= free - kSpareSpoolBytes);
}

void CleanSpoolFolderAt(uint64_t referenceTime) {
  const std::string folder = GetSpoolFolder();
  if (folder.empty()) return;
  CFileFind finder;
  if (!finder.FindFile(folder)) return;
  do {
    if (finder.IsDots() || finder.IsDirectory()) continue;
    // A failed deletion (no permission, file busy) leaves the entry; the scan goes on.
    if (finder.GetCreationTime() + kFileTimeDay <= referenceTime) finder.RemoveCurrentEntry();
  } while (finder.FindNextFile());
  finder.Close();
}

void CleanSpoolFolder() { CleanSpoolFolderAt(GetLocalFileTime()); }
