#include "platform/filebeneath.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/filedescriptor.h"

namespace {

// Opens a name inside a folder: never through a link, never anything but a regular file
// or a folder.
FileDescriptor OpenInside(int folder, const std::string& name, struct stat& status) {
  if (name == "..") return FileDescriptor();
  FileDescriptor opened(openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!opened.IsValid() || fstat(opened.Get(), &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) {
    return FileDescriptor();
  }
  return opened;
}

int64_t ChangeTime(const struct stat& status) {
  return static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
}

// Relative to the folder: a path below it has no leading '/'.
std::string Relative(std::string_view rest) {
  const size_t first = rest.find_first_not_of('/');
  return first == std::string_view::npos ? "." : std::string(rest.substr(first));
}

}  // namespace

CKeptFolder::CKeptFolder(std::string path) : path_(std::move(path)) {
  FileDescriptor folder(path_.empty() ? -1 : open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
  struct stat status;
  if (!folder.IsValid() || fstat(folder.Get(), &status) != 0) return;
  device_ = status.st_dev;
  identity_ = status.st_ino;
  changed_ = ChangeTime(status);
  fd_ = folder.Release();
  open_ = true;
}

CKeptFolder::~CKeptFolder() {
  if (fd_ >= 0) close(fd_);
}

bool CKeptFolder::Unchanged() const {
  struct stat status;
  return open_ && stat(path_.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == identity_ &&
         ChangeTime(status) == changed_;
}

bool CKeptFolder::Holds(std::string_view rest) const {
  struct stat status;
  return open_ && fstatat(fd_, Relative(rest).c_str(), &status, 0) == 0;
}

bool OpenBeneath(const CKeptFolder& base, std::string_view rest, FileBeneath& found) {
  // The base is a folder; what lies inside is looked at as it is opened.
  if (!base.IsOpen()) return false;
  struct stat status;
  FileDescriptor current;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string name(rest.substr(0, slash));
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (name.empty() || name == ".") continue;
    if (current.IsValid() && !S_ISDIR(status.st_mode)) return false;
    current = OpenInside(current.IsValid() ? current.Get() : base.fd_, name, status);
    if (!current.IsValid()) return false;
  }
  if (!current.IsValid() && fstat(base.fd_, &status) != 0) return false;  // the base itself
  found = FileBeneath();
  found.isFolder = S_ISDIR(status.st_mode);
  found.size = static_cast<uint64_t>(status.st_size);
  found.modified = status.st_mtime;
  if (found.isFolder) return true;
  found.file.reset(fdopen(current.Get(), "rb"));
  if (!found.file) return false;
  current.Release();
  return true;
}
