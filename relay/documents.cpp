#include "relay/documents.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "relay/random.h"

namespace {

bool MakePrivateFolder(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + path;
    return false;
  }
  return true;
}

}  // namespace

bool DocumentFolder::Open(const std::string& dataFolder, std::string& error) {
  const std::string top = dataFolder.ends_with('/') ? dataFolder : dataFolder + "/";
  documents_ = top + "documents/";
  incoming_ = top + "incoming/";
  if (!MakePrivateFolder(top, error) || !MakePrivateFolder(documents_, error) || !MakePrivateFolder(incoming_, error)) {
    return false;
  }
  // Uploads cut off by a stop or crash are incomplete: none of them becomes a job.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(incoming_, ignored)) {
    std::filesystem::remove(entry.path(), ignored);
  }
  return true;
}

void DocumentFolder::Remove(const std::string& id) const { std::remove(PathOf(id).c_str()); }

void DocumentFolder::RemoveWrittenBefore(long long cutoff) const {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(documents_, ignored)) {
    struct stat status{};
    if (lstat(entry.path().c_str(), &status) == 0 && status.st_mtime < cutoff) std::filesystem::remove(entry.path(), ignored);
  }
}

std::unique_ptr<DocumentFolder::Incoming> DocumentFolder::Begin() const {
  const std::string path = incoming_ + RandomHex(16);
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
  // Close reports a lost write; only a document that reached the disk is kept.
  if (!file_.Close() || std::rename(path_.c_str(), folder.PathOf(id).c_str()) != 0) return false;
  committed_ = true;
  return true;
}
