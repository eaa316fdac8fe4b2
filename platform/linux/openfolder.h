// Opening a folder without following a link that stands in its place (Linux only).
#pragma once

#include <string>

// Opens `path` as a folder for reading; -1 when it is not a folder or its last component
// is a link. Trailing slashes are disregarded: with one, the system would follow the link.
int OpenFolderNoFollow(const std::string& path);
