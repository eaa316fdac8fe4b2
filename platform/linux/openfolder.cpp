#include "platform/linux/openfolder.h"

#include <fcntl.h>

int OpenFolderNoFollow(const std::string& path) {
  const auto end = path.find_last_not_of('/');
  const std::string trimmed = end == std::string::npos ? path.substr(0, 1) : path.substr(0, end + 1);
  return open(trimmed.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}
