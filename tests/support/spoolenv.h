// A fresh set of per-user folders for one test: HOME, XDG_CONFIG_HOME, TMPDIR and
// XDG_RUNTIME_DIR point into a new temporary tree, removed again at the end.
#pragma once

#include <string>

class SpoolTestEnvironment {
public:
  SpoolTestEnvironment();
  ~SpoolTestEnvironment();
  SpoolTestEnvironment(const SpoolTestEnvironment&) = delete;
  SpoolTestEnvironment& operator=(const SpoolTestEnvironment&) = delete;

  // The root of the tree, ending in '/'.
  const std::string& Root() const { return root_; }
  // What TMPDIR points to, ending in '/'.
  std::string TempFolder() const { return root_ + "tmp/"; }
  // What XDG_RUNTIME_DIR points to, ending in '/'.
  std::string RuntimeFolder() const { return root_ + "runtime/"; }

private:
  std::string root_;
};

// Writes `content` to a new file at `path`; false on failure.
bool WriteTestFile(const std::string& path, const std::string& content = "x");
