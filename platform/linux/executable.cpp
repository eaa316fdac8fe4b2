#include "platform/executable.h"

#include <climits>
#include <unistd.h>

std::string GetExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || length == static_cast<ssize_t>(sizeof buffer)) return {};
  return std::string(buffer, static_cast<size_t>(length));
}

std::string GetExecutableFolder() {
  const std::string path = GetExecutablePath();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The autostart entry splits the command itself and quotes each word as its format wants.
std::string GetExecutableCommandWord() { return GetExecutablePath(); }
