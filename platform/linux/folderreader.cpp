#include "platform/folderreader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/linux/openfolder.h"

struct FolderReader::Stream {
  DIR* dir = nullptr;
  ~Stream() {
    if (dir) closedir(dir);
  }
};

FolderReader::FolderReader() = default;
FolderReader::~FolderReader() = default;

bool FolderReader::Open(const std::string& folder) {
  Close();
  const int fd = OpenFolderNoFollow(folder);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return false;
  }
  stream_ = std::make_unique<Stream>();
  stream_->dir = dir;
  return true;
}

bool FolderReader::Next(FolderEntry& entry) {
  if (!stream_) return false;
  while (const dirent* found = readdir(stream_->dir)) {
    struct statx status{};
    if (statx(dirfd(stream_->dir), found->d_name, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_BTIME | STATX_CTIME,
              &status) != 0) {
      continue;
    }
    const statx_timestamp& time = (status.stx_mask & STATX_BTIME) ? status.stx_btime : status.stx_ctime;
    entry.name = found->d_name;
    entry.isDirectory = S_ISDIR(status.stx_mode);
    entry.creationTime = UnixTimeToFileTime(time.tv_sec, time.tv_nsec);
    return true;
  }
  return false;
}

bool FolderReader::RemoveFile(const std::string& name) {
  if (!stream_ || name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return false;
  // Without AT_REMOVEDIR the call refuses folders; a link is removed, not what it points to.
  return unlinkat(dirfd(stream_->dir), name.c_str(), 0) == 0;
}

void FolderReader::Close() { stream_.reset(); }
