#include "relay/documentfolder.h"

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
#include "platform/newfile.h"

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

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

SqlFailure FailureOf(int error) { return IsDiskFull(error) ? SqlFailure::Full : SqlFailure::Failed; }

}  // namespace


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

void DocumentFolder::Remove(const std::string& id) { std::remove(PathOf(id).c_str()); }

void DocumentFolder::RemoveAbandoned(long long cutoff) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(documents_, ignored)) {
    struct stat status{};
    if (lstat(entry.path().c_str(), &status) == 0 && status.st_mtime < cutoff) fs::remove(entry.path(), ignored);
  }
  RemoveStoppedRelaysUploads();
}

SqlFailure DocumentFolder::Find(const std::string& id, long long size, DocumentBody& body) {
  const int fd = open(PathOf(id).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  struct stat status{};
  // Exactly the announced bytes or nothing: the desktop checks the length.
  if (fd < 0 || fstat(fd, &status) != 0 || status.st_size != size) {
    if (fd >= 0) close(fd);
    return SqlFailure::Failed;
  }
  body = {fd, nullptr, size};
  return SqlFailure::None;
}

class DocumentFolder::Incoming : public IncomingDocument {
public:
  Incoming(const DocumentFolder& folder, std::string id, std::string path, CNewFile file)
      : folder_(folder), id_(std::move(id)), path_(std::move(path)), file_(std::move(file)) {}
  ~Incoming() override {
    if (!committed_) {
      file_.Close();
      std::remove(path_.c_str());
    }
  }

  bool Write(const char* data, size_t size) override { return file_.Write(data, size) || Failed(); }

  bool Commit() override {
    // Close reports a lost write; only a document that reached the disk is kept, and its
    // new name reaches the disk before its job is recorded.
    if (!file_.Close() || !SyncToDisk(path_) || std::rename(path_.c_str(), folder_.PathOf(id_).c_str()) != 0) {
      return Failed();
    }
    committed_ = true;
    return SyncToDisk(folder_.documents_) || Failed();
  }

  SqlFailure Failure() const override { return failure_; }

private:
  bool Failed() {
    failure_ = FailureOf(errno);
    return false;
  }

  const DocumentFolder& folder_;
  std::string id_;
  std::string path_;
  CNewFile file_;
  bool committed_ = false;
  SqlFailure failure_ = SqlFailure::None;
};

std::unique_ptr<IncomingDocument> DocumentFolder::Begin(const std::string& id, SqlFailure& failure) {
  const std::string path = own_ + id;
  CNewFile file = CNewFile::Create(path);
  if (!file.IsOpen()) {
    failure = FailureOf(errno);
    return nullptr;
  }
  return std::make_unique<Incoming>(*this, id, path, std::move(file));
}
