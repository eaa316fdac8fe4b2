#include "print/jobfiles.h"

#include <filesystem>
#include <stdlib.h>
#include <system_error>

#include "platform/tempfolder.h"

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.string();
}

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string MakeWorkFolder() {
  std::string pattern = GetUserTempFolder() + "olvaro-print-XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

void RemoveWorkFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::remove_all(folder, error);
}
