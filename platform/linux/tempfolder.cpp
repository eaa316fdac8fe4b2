#include "platform/tempfolder.h"

#include <cstdlib>

std::string GetUserTempFolder() {
  // A relative path would depend on the working folder, so it does not count as set.
  for (const char* variable : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') {
      std::string folder = value;
      if (folder.back() != '/') folder += '/';
      return folder;
    }
  }
  return "/tmp/";
}
