// Questions about paths and the creation of folders only this user may use.
// Stateless; callable from any thread.
#pragma once

#include <cstdint>
#include <string>

// True when anything (a file, a folder, a link, even a dangling one) is at `path`.
bool PathExists(const std::string& path);

// Creates the folder `path` with mode 0700 when nothing is there. True only when `path`
// then is a real folder (not a link) owned by this user with mode exactly 0700.
bool EnsurePrivateFolder(const std::string& path);

// Bytes this user may still write on the file system that holds `path`; -1 when the
// system cannot tell.
int64_t FreeBytesAt(const std::string& path);
