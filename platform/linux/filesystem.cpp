#include "platform/filesystem.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/linux/filedescriptor.h"
#include "platform/linux/openfolder.h"

bool PathExists(const std::string& path) {
  struct stat status{};
  return lstat(path.c_str(), &status) == 0;
}

bool EnsurePrivateFolder(const std::string& path) {
  const bool created = mkdir(path.c_str(), 0700) == 0;
  if (!created && errno != EEXIST) return false;

  // Judge the folder through a descriptor, so the object checked is the one opened.
  const FileDescriptor folder(OpenFolderNoFollow(path));
  if (!folder.IsValid()) return false;
  // The umask may have taken bits from a folder we just made; ours to put right.
  if (created && fchmod(folder.Get(), 0700) != 0) return false;
  struct stat status{};
  return fstat(folder.Get(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
         (status.st_mode & 07777) == 0700;
}

int64_t FreeBytesAt(const std::string& path) {
  struct statvfs info{};
  if (statvfs(path.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}
