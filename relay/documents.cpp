#include "relay/documents.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "relay/random.h"

namespace {

namespace fs = std::filesystem;

constexpr char kLockSuffix[] = ".lock";
// A file in incoming that belongs to no relay's folder is older than any upload after
// this long: an earlier layout's upload, or a lock file whose relay stopped while
// taking it.
constexpr long long kStrayFileSeconds = 24 * 3600;

bool MakePrivateFolder(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + path;
    return false;
  }
  return true;
}

// Syncs what `path` names (a file or a folder) to the disk.
bool SyncToDisk(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  const int error = errno;
  close(fd);
  errno = error;
  return synced;
}

// True when the relay holding `lockPath` has stopped (or never took it): its lock can
// be had. The lock is then held until `fd` is closed.
bool OwnerStopped(const std::string& lockPath, int& fd) {
  fd = open(lockPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT;
  return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

}  // namespace

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

DocumentFolder::~DocumentFolder() {
  if (lockFd_ < 0) return;
  std::error_code ignored;
  fs::remove_all(own_, ignored);
  std::remove(ownLock_.c_str());
  close(lockFd_);
}

bool DocumentFolder::Open(const std::string& dataFolder, std::string& error) {
  const std::string top = dataFolder.ends_with('/') ? dataFolder : dataFolder + "/";
  documents_ = top + "documents/";
  incoming_ = top + "incoming/";
  if (!MakePrivateFolder(top, error) || !MakePrivateFolder(documents_, error) || !MakePrivateFolder(incoming_, error) ||
      !TakeIncomingFolder(error)) {
    return false;
  }
  // Uploads cut off by a stop or crash are incomplete: none of them becomes a job.
  RemoveStoppedRelaysUploads();
  return true;
}

bool DocumentFolder::TakeIncomingFolder(std::string& error) {
  const std::string name = RandomHex(8);
  own_ = incoming_ + name + "/";
  ownLock_ = incoming_ + name + kLockSuffix;
  // The lock is held before it has its name, and the folder made only after: another
  // relay never sees this folder without a held lock.
  const std::string taking = ownLock_ + ".new";
  lockFd_ = open(taking.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd_ < 0 || flock(lockFd_, LOCK_EX) != 0 || rename(taking.c_str(), ownLock_.c_str()) != 0 ||
      !MakePrivateFolder(own_, error)) {
    error = "cannot take a folder in " + incoming_;
    return false;
  }
  return true;
}

void DocumentFolder::RemoveStoppedRelaysUploads() const {
  std::error_code ignored;
  const auto strayBefore = fs::file_time_type::clock::now() - std::chrono::seconds(kStrayFileSeconds);
  for (const auto& entry : fs::directory_iterator(incoming_, ignored)) {
    const std::string path = entry.path().string();
    if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
      if (path + "/" == own_) continue;
      int fd = -1;
      if (OwnerStopped(path + kLockSuffix, fd)) {
        fs::remove_all(path, ignored);
        std::remove((path + kLockSuffix).c_str());
      }
      if (fd >= 0) close(fd);
    } else if (path.ends_with(kLockSuffix)) {
      // A lock whose folder went (its relay stopped while giving it up).
      int fd = -1;
      if (!fs::exists(path.substr(0, path.size() - sizeof kLockSuffix + 1), ignored) && OwnerStopped(path, fd)) {
        std::remove(path.c_str());
      }
      if (fd >= 0) close(fd);
    } else if (entry.last_write_time(ignored) < strayBefore) {
      fs::remove(path, ignored);
    }
  }
}

void DocumentFolder::Remove(const std::string& id) const { std::remove(PathOf(id).c_str()); }

void DocumentFolder::RemoveAbandoned(long long cutoff) const {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(documents_, ignored)) {
    struct stat status{};
    if (lstat(entry.path().c_str(), &status) == 0 && status.st_mtime < cutoff) fs::remove(entry.path(), ignored);
  }
  RemoveStoppedRelaysUploads();
}

std::unique_ptr<DocumentFolder::Incoming> DocumentFolder::Begin() const {
  const std::string path = own_ + RandomHex(16);
  CNewFile file = CNewFile::Create(path);
  if (!file.IsOpen()) return nullptr;
  return std::make_unique<Incoming>(path, std::move(file));
}

DocumentFolder::Incoming::~Incoming() {
  if (!committed_) {
    file_.Close();
    std::remove(path_.c_str());
  }
}

bool DocumentFolder::Incoming::Commit(const DocumentFolder& folder, const std::string& id) {
  // Close reports a lost write; only a document that reached the disk is kept, and its
  // new name reaches the disk before its job is recorded.
  if (!file_.Close() || !SyncToDisk(path_) || std::rename(path_.c_str(), folder.PathOf(id).c_str()) != 0) return false;
  committed_ = true;
  return SyncToDisk(folder.documents_);
}
