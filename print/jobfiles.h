// Paths and scratch folders shared by the print methods. Any thread.
#pragma once

#include <string>

// `path` made absolute, so that no program can read it as one of its options.
std::string AbsolutePath(const std::string& path);

// The last component of `path` (a job is titled with its file name).
std::string BaseName(const std::string& path);

// A new private folder (mode 0700) in the temporary folder, for one job's intermediate
// files; empty when it cannot be made. The caller removes it with RemoveWorkFolder.
std::string MakeWorkFolder();
void RemoveWorkFolder(const std::string& folder);
