// The program's key as a regedit text file, $XDG_CONFIG_HOME/Vostrel/OlvaroDesktop.reg,
// that people may also edit by hand.
#include "platform/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/atomicfile.h"
#include "platform/linux/userconfig.h"
#include "platform/regfile.h"

namespace {

constexpr char kKeyPath[] = "HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop";
constexpr char kFolderName[] = "Vostrel";
constexpr char kFileName[] = "OlvaroDesktop.reg";
// A file we cannot parse is kept under this name (numbered when taken) before we write.
constexpr char kKeptCopySuffix[] = ".unreadable";
constexpr int kMaxKeptCopies = 100;
constexpr mode_t kFileMode = 0600;

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The format has no way to write a line break or other control character in a name.
bool IsWritableName(const std::string& name) {
  return std::ranges::none_of(name, [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The program's key as a file held it: which file it was, and the key's section (null
// when the file is not in the format or lacks the key).
struct ReadKey {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  std::optional<RegistrySection> section;

  bool IsOf(const struct stat& status) const {
    return device == status.st_dev && inode == status.st_ino && size == status.st_size &&
           modified.tv_sec == status.st_mtim.tv_sec && modified.tv_nsec == status.st_mtim.tv_nsec &&
           changed.tv_sec == status.st_ctim.tv_sec && changed.tv_nsec == status.st_ctim.tv_nsec;
  }
};

// The key in the file at `path`, parsed again only when the file changed: "/info" asks
// for a value on every request. Writers replace the file by renaming, so reading needs no
// lock, and a file read after its stat is at least as new as the stat says. Null when
// the file cannot be read.
std::shared_ptr<const ReadKey> ReadKeyOfFile(const std::string& path) {
  static std::mutex mutex;
  static std::string lastPath;
  static std::shared_ptr<const ReadKey> last;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return nullptr;
  {
    const std::lock_guard lock(mutex);
    if (last && lastPath == path && last->IsOf(status)) return last;
  }
  const auto content = ReadWholeFile(path);
  if (!content) return nullptr;
  auto key = std::make_shared<ReadKey>(ReadKey{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                                               status.st_ctim, std::nullopt});
  if (auto document = ParseRegFile(*content)) {
    if (const RegistrySection* section = FindRegistrySection(*document, kKeyPath)) key->section = *section;
  }
  const std::lock_guard lock(mutex);
  lastPath = path;
  last = key;
  return key;
}

class FileRegistryKey final : public RegistryKey {
public:
  FileRegistryKey(const std::string& folder, RegistryAccess access)
      : folder_(folder), path_(folder + "/" + kFileName), lockPath_(path_ + ".lock"),
        writable_(access != RegistryAccess::Read) {}

  // Creates the file holding the empty key when there is none yet.
  bool EnsureFileExists() const {
    struct stat status{};
    if (stat(path_.c_str(), &status) == 0) return S_ISREG(status.st_mode);
    if (errno != ENOENT) return false;
    const FileDescriptor lock = LockFileExclusively(lockPath_);
    if (!lock.IsValid()) return false;
    if (stat(path_.c_str(), &status) == 0) return S_ISREG(status.st_mode);
    const RegistryDocument empty{RegistrySection{kKeyPath, {}}};
    return ReplaceFileAtomically(path_, FormatRegFile(empty), kFileMode);
  }

  RegistryStatus QueryValue(const std::string& name, void* buffer, uint32_t* size) override {
    if (buffer && !size) return RegistryStatus::Failed;
    const std::shared_ptr<const ReadKey> key = ReadKeyOfFile(path_);
    if (!key) return RegistryStatus::Failed;
    const RegistryValue* value = key->section ? FindRegistryValue(*key->section, name) : nullptr;
    if (!value) return RegistryStatus::NotFound;

    const auto length = static_cast<uint32_t>(value->data.size());
    if (!buffer) {
      if (size) *size = length;
      return RegistryStatus::Success;
    }
    const uint32_t capacity = *size;
    *size = length;
    if (length > capacity) return RegistryStatus::MoreData;
    std::memcpy(buffer, value->data.data(), length);
    return RegistryStatus::Success;
  }

  RegistryStatus SetValue(const std::string& name, RegistryType type, const void* data,
                          uint32_t size) override {
    if (!writable_ || !IsWritableName(name) || (size > 0 && !data)) return RegistryStatus::Failed;
    RegistryValue value{name, type, size > 0 ? std::string(static_cast<const char*>(data), size) : ""};
    return Modify([&](RegistrySection& section) {
      PutRegistryValue(section, std::move(value));
      return RegistryStatus::Success;
    });
  }

  RegistryStatus DeleteValue(const std::string& name) override {
    if (!writable_) return RegistryStatus::Failed;
    return Modify([&](RegistrySection& section) {
      return RemoveRegistryValue(section, name) ? RegistryStatus::Success : RegistryStatus::NotFound;
    });
  }

  RegistryStatus Flush() override {
    return SyncFolder(folder_) ? RegistryStatus::Success : RegistryStatus::Failed;
  }

private:
  // Reads, changes and replaces the file while holding the lock, so a value another
  // thread or process wrote in between is never lost.
  RegistryStatus Modify(const std::function<RegistryStatus(RegistrySection&)>& change) {
    const FileDescriptor lock = LockFileExclusively(lockPath_);
    if (!lock.IsValid()) return RegistryStatus::Failed;
    const auto content = ReadWholeFile(path_);
    if (!content && errno != ENOENT) return RegistryStatus::Failed;

    std::optional<RegistryDocument> document = content ? ParseRegFile(*content) : RegistryDocument{};
    const bool unreadable = !document;
    if (unreadable) document.emplace();
    const RegistryStatus status = change(FindOrAddRegistrySection(*document, kKeyPath));
    if (status != RegistryStatus::Success) return status;
    if (unreadable && !IsBlank(*content) && !KeepCopy()) return RegistryStatus::Failed;
    return ReplaceFileAtomically(path_, FormatRegFile(*document), kFileMode) ? RegistryStatus::Success
                                                                             : RegistryStatus::Failed;
  }

  // Keeps the file as it is under a free name beside it; the rename that follows then
  // leaves that name holding the person's text.
  bool KeepCopy() const {
    for (int number = 1; number <= kMaxKeptCopies; ++number) {
      std::string copy = path_ + kKeptCopySuffix;
      if (number > 1) copy += "." + std::to_string(number);
      if (link(path_.c_str(), copy.c_str()) == 0) return true;
      if (errno != EEXIST) return false;
    }
    return false;
  }

  const std::string folder_;
  const std::string path_;
  const std::string lockPath_;
  const bool writable_;
};

}  // namespace

std::unique_ptr<RegistryKey> CreateProgramKey(RegistryAccess access) {
  const std::string config = GetUserConfigFolder();
  if (config.empty()) return nullptr;
  const std::string folder = config + kFolderName;
  if (!MakeFolderPath(folder)) return nullptr;
  if (access != RegistryAccess::Read && ::access(folder.c_str(), W_OK) != 0) return nullptr;
  auto key = std::make_unique<FileRegistryKey>(folder, access);
  if (!key->EnsureFileExists()) return nullptr;
  return key;
}
