#include "platform/filebeneath.h"

#include <fcntl.h>
#include <io.h>
#include <string>
#include <utility>
#include <windows.h>

#include "platform/win/widetext.h"

namespace {

// A handle that closes itself.
struct Handle {
  HANDLE value = INVALID_HANDLE_VALUE;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(INVALID_HANDLE_VALUE); }
  void Reset(HANDLE next) {
    if (value != INVALID_HANDLE_VALUE) CloseHandle(value);
    value = next;
  }
};

// Opens `path` itself (a reparse point is not followed) and tells what it is. False for
// a reparse point (link, junction, mount point) and for anything but a file on a disk or
// a folder (a device name such as CON).
bool OpenPlain(const std::wstring& path, Handle& opened, BY_HANDLE_FILE_INFORMATION& information) {
  opened.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return opened.value != INVALID_HANDLE_VALUE && GetFileType(opened.value) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(opened.value, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool IsFolder(const BY_HANDLE_FILE_INFORMATION& information) {
  return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint64_t Ticks(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

time_t UnixTime(const FILETIME& time) {
  const uint64_t ticks = Ticks(time);
  constexpr uint64_t kTicksTo1970 = 116444736000000000ULL;  // 100 ns ticks from 1601
  return ticks < kTicksTo1970 ? 0 : static_cast<time_t>((ticks - kTicksTo1970) / 10000000ULL);
}

// Opens the folder at `path` and tells what it is; false for anything but a plain folder.
bool OpenFolder(const std::string& path, Handle& opened, BY_HANDLE_FILE_INFORMATION& information) {
  return !path.empty() && OpenPlain(ToWidePath(path), opened, information) && IsFolder(information);
}

}  // namespace

CKeptFolder::CKeptFolder(std::string path) : path_(std::move(path)) {
  Handle folder;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!OpenFolder(path_, folder, information)) return;
  device_ = information.dwVolumeSerialNumber;
  identity_ = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  changed_ = static_cast<int64_t>(Ticks(information.ftLastWriteTime));
  open_ = true;
}

CKeptFolder::~CKeptFolder() = default;

bool CKeptFolder::Unchanged() const {
  Handle folder;
  BY_HANDLE_FILE_INFORMATION information{};
  return open_ && OpenFolder(path_, folder, information) && information.dwVolumeSerialNumber == device_ &&
         ((static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow) == identity_ &&
         static_cast<int64_t>(Ticks(information.ftLastWriteTime)) == changed_;
}

bool CKeptFolder::Holds(std::string_view rest) const {
  return open_ && GetFileAttributesW(ToWidePath(path_ + "/" + std::string(rest)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool OpenBeneath(const CKeptFolder& base, std::string_view rest, FileBeneath& found) {
  Handle current;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!base.IsOpen() || !OpenFolder(base.Path(), current, information)) return false;
  std::wstring path = ToWidePath(base.Path());
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string name(rest.substr(0, slash));
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (name.empty() || name == ".") continue;
    // '\' and ':' would name other folders, drives or a file's streams.
    if (name == ".." || name.find_first_of("\\:") != std::string::npos || !IsFolder(information)) return false;
    if (path.back() != L'\\') path += L'\\';
    path += ToWide(name);
    if (!OpenPlain(path, current, information)) return false;
  }
  found = FileBeneath();
  found.isFolder = IsFolder(information);
  found.size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  found.modified = UnixTime(information.ftLastWriteTime);
  if (found.isFolder) return true;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(current.value), _O_RDONLY | _O_BINARY);
  if (fd < 0) return false;
  current.value = INVALID_HANDLE_VALUE;  // the descriptor owns it now
  found.file.reset(_fdopen(fd, "rb"));
  if (!found.file) _close(fd);
  return found.file != nullptr;
}
