// Where the user's configuration, cache and state live (Linux implementations only). Stateless; any thread.
#pragma once

#include <string>

// An XDG base folder: the absolute path in `variable`, else `underHome` in the home
// folder, ending in '/'; empty when neither is known.
std::string GetUserBaseFolder(const char* variable, const char* underHome);

// $XDG_CONFIG_HOME, else ~/.config, ending in '/'; empty when no home folder is known.
std::string GetUserConfigFolder();

// Creates `path` and any missing folder above it, mode 0700. True when `path` then is a folder.
bool MakeFolderPath(const std::string& path);
