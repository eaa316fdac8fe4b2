#include "platform/newfile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

CNewFile CNewFile::Create(const std::string& path) {
  return CNewFile(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
}

bool CNewFile::WriteToFile(const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd_, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool CNewFile::CloseFile() {
  return close(std::exchange(fd_, -1)) == 0;
}
