#include "platform/filebeneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A descriptor that closes itself.
class Descriptor {
public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

private:
  int fd_;
};

// Opens a name inside a folder: never through a link, never anything but a regular file
// or a folder.
Descriptor OpenInside(int folder, const std::string& name, struct stat& status) {
  if (name == "..") return Descriptor();
  Descriptor opened(openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (opened.get() < 0 || fstat(opened.get(), &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) {
    return Descriptor();
  }
  return opened;
}

}  // namespace

bool OpenBeneath(const std::string& base, std::string_view rest, FileBeneath& found) {
  // The base is a folder (O_DIRECTORY); what lies inside is looked at as it is opened.
  struct stat status;
  bool inside = false;
  Descriptor current(base.empty() ? -1 : open(base.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
  if (current.get() < 0) return false;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string name(rest.substr(0, slash));
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (name.empty() || name == ".") continue;
    if (inside && !S_ISDIR(status.st_mode)) return false;
    current = OpenInside(current.get(), name, status);
    if (current.get() < 0) return false;
    inside = true;
  }
  if (!inside && fstat(current.get(), &status) != 0) return false;
  found = FileBeneath();
  found.isFolder = S_ISDIR(status.st_mode);
  found.size = static_cast<uint64_t>(status.st_size);
  found.modified = status.st_mtime;
  if (found.isFolder) return true;
  found.file.reset(fdopen(current.get(), "rb"));
  if (!found.file) return false;
  current.release();
  return true;
}
