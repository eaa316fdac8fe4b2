#include "platform/tempfolder.h"

#include <cstdlib>

#include "platform/linux/userconfig.h"

std::string GetUserTempFolder() {
  // A relative TMPDIR would depend on the working folder, so it does not count as set.
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir && tmpdir[0] == '/') {
    std::string folder = tmpdir;
    if (folder.back() != '/') folder += '/';
    return folder;
  }
  // Documents may be large: they go to a disk folder of the user's, never to the small
  // RAM-backed runtime folder that the whole desktop session shares.
  const std::string cache = GetUserBaseFolder("XDG_CACHE_HOME", ".cache");
  return !cache.empty() && MakeFolderPath(cache) ? cache : "/tmp/";
}

std::string GetUserStateFolder() {
  const std::string state = GetUserBaseFolder("XDG_STATE_HOME", ".local/state");
  return !state.empty() && MakeFolderPath(state) ? state : std::string();
}
