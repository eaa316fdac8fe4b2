// The Run key as the XDG autostart folder: the value "Name" is the desktop entry
// $XDG_CONFIG_HOME/autostart/Name.desktop, present when that file exists.
#include "platform/registry.h"

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/linux/atomicfile.h"
#include "platform/linux/desktopentry.h"
#include "platform/linux/userconfig.h"

namespace {

constexpr char kAutostartFolderName[] = "autostart";
constexpr mode_t kEntryMode = 0644;

bool IsRegularFile(const std::string& path) {
  struct stat status{};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// A Run command holds the program's path unquoted, spaces and all, then the arguments
// separated by spaces. As Windows does, the program is the prefix that names an existing
// file; we try the longest first, so a file at a shorter prefix cannot capture it. When
// no prefix names a file, the program is the first word.
std::vector<std::string> SplitRunCommand(const std::string& command) {
  size_t programEnd = command.size();
  while (programEnd != std::string::npos && !IsRegularFile(command.substr(0, programEnd))) {
    programEnd = programEnd == 0 ? std::string::npos : command.rfind(' ', programEnd - 1);
  }
  if (programEnd == std::string::npos) programEnd = command.find(' ');

  std::vector<std::string> arguments{command.substr(0, programEnd)};
  if (programEnd != std::string::npos) {
    std::istringstream words(command.substr(programEnd));
    for (std::string word; words >> word;) arguments.push_back(word);
  }
  return arguments;
}

// A value name must be a plain file name to become one.
bool IsEntryName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         std::ranges::none_of(name, [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20; });
}

class AutostartRunKey final : public RegistryKey {
public:
  AutostartRunKey(const std::string& folder, bool writable) : folder_(folder), writable_(writable) {}

  RegistryStatus QueryValue(const std::string& name, void* buffer, uint32_t* size) override {
    if (buffer || size || !IsEntryName(name)) return RegistryStatus::Failed;
    struct stat status{};
    if (stat(EntryPath(name).c_str(), &status) == 0) return RegistryStatus::Success;
    return errno == ENOENT ? RegistryStatus::NotFound : RegistryStatus::Failed;
  }

  RegistryStatus SetValue(const std::string& name, RegistryType type, const void* data,
                          uint32_t size) override {
    if (!writable_ || type != RegistryType::String || !IsEntryName(name) || size == 0 || !data) {
      return RegistryStatus::Failed;
    }
    // The command ends at its terminating zero.
    std::string command(static_cast<const char*>(data), size);
    command.resize(command.find('\0') == std::string::npos ? size : command.find('\0'));
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=" + EscapeDesktopEntryString(name) + "\n"
                              "Exec=" + MakeExecValue(SplitRunCommand(command)) + "\n"
                              "Terminal=false\n";
    return ReplaceFileAtomically(EntryPath(name), entry, kEntryMode) ? RegistryStatus::Success
                                                                     : RegistryStatus::Failed;
  }

  RegistryStatus DeleteValue(const std::string& name) override {
    if (!writable_ || !IsEntryName(name)) return RegistryStatus::Failed;
    if (unlink(EntryPath(name).c_str()) == 0) return RegistryStatus::Success;
    return errno == ENOENT ? RegistryStatus::NotFound : RegistryStatus::Failed;
  }

  RegistryStatus Flush() override {
    return SyncFolder(folder_) ? RegistryStatus::Success : RegistryStatus::Failed;
  }

private:
  std::string EntryPath(const std::string& name) const { return folder_ + "/" + name + ".desktop"; }

  const std::string folder_;
  const bool writable_;
};

}  // namespace

std::unique_ptr<RegistryKey> OpenRunKey(RegistryAccess access) {
  const std::string config = GetUserConfigFolder();
  if (config.empty()) return nullptr;
  const std::string folder = config + kAutostartFolderName;
  const bool writable = access != RegistryAccess::Read;
  // Writing needs a folder we can put entries in; reading finds none when it is missing.
  if (writable && (!MakeFolderPath(folder) || ::access(folder.c_str(), W_OK | X_OK) != 0)) return nullptr;
  return std::make_unique<AutostartRunKey>(folder, writable);
}
