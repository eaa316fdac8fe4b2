// Small whole files: read at once, replaced atomically, their writers serialised by a lock
// file (Linux implementations only). Stateless; callable from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/linux/filedescriptor.h"

// The file's bytes; null on failure, with errno telling why (ENOENT: nothing there).
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes `content` to a new file beside `path`, makes it durable and renames it over
// `path`, so a reader or a crash sees the old file or the new one, never a mixture.
bool ReplaceFileAtomically(const std::string& path, std::string_view content, mode_t mode);

// Makes the renames and removals done in `folder` durable.
bool SyncFolder(const std::string& folder);

// Waits for the exclusive lock on `lockPath` (created when missing); the lock lasts as
// long as the returned descriptor, or the process. Not valid on failure.
FileDescriptor LockFileExclusively(const std::string& lockPath);
