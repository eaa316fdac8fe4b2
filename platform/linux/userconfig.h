// Where the user's configuration lives (Linux implementations only). Stateless; any thread.
#pragma once

#include <string>

// $XDG_CONFIG_HOME, else ~/.config, ending in '/'; empty when no home folder is known.
std::string GetUserConfigFolder();

// Creates `path` and any missing folder above it, mode 0700. True when `path` then is a folder.
bool MakeFolderPath(const std::string& path);
