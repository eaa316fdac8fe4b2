#include "platform/linux/atomicfile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = write(fd, content.data(), content.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    content.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsValid()) return std::nullopt;
  std::string content;
  char buffer[16384];
  for (;;) {
    const ssize_t count = read(file.Get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) return content;
    content.append(buffer, static_cast<size_t>(count));
  }
}

bool ReplaceFileAtomically(const std::string& path, std::string_view content, mode_t mode) {
  std::string temporary = path + ".XXXXXX";
  FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.IsValid()) return false;
  const bool written = WriteAll(file.Get(), content) && fchmod(file.Get(), mode) == 0 &&
                       fsync(file.Get()) == 0 && file.Reset();
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool SyncFolder(const std::string& folder) {
  const FileDescriptor handle(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return handle.IsValid() && fsync(handle.Get()) == 0;
}

FileDescriptor LockFileExclusively(const std::string& lockPath) {
  FileDescriptor lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock.IsValid()) return lock;
  int result;
  do {
    result = flock(lock.Get(), LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) lock.Reset();
  return lock;
}
