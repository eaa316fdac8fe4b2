#include "platform/linux/userconfig.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string GetHomeFolder() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  // No usable HOME (a service started bare): ask the password database.
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir || found->pw_dir[0] != '/') {
    return {};
  }
  return found->pw_dir;
}

bool IsFolder(const std::string& path) {
  struct stat status{};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::string GetUserBaseFolder(const char* variable, const char* underHome) {
  std::string folder;
  // An XDG base folder must be absolute; a relative one counts as unset.
  if (const char* value = std::getenv(variable); value && value[0] == '/') {
    folder = value;
  } else {
    folder = GetHomeFolder();
    if (folder.empty()) return {};
    if (folder.back() != '/') folder += '/';
    folder += underHome;
  }
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string GetUserConfigFolder() { return GetUserBaseFolder("XDG_CONFIG_HOME", ".config"); }

bool MakeFolderPath(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (IsFolder(folder)) return true;
  const auto slash = folder.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolderPath(folder.substr(0, slash))) return false;
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return IsFolder(folder);
}
