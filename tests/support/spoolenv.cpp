#include "tests/support/spoolenv.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace {

// The temporary folder the test process started with, before any test pointed TMPDIR
// into a tree of its own.
const std::string& OriginalTempFolder() {
  static const std::string folder = std::filesystem::temp_directory_path().string();
  return folder;
}

}  // namespace

SpoolTestEnvironment::SpoolTestEnvironment() {
  std::string pattern = OriginalTempFolder() + "/olvaro-test.XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern + "/";
  for (const char* sub : {"home", "home/.config", "tmp", "runtime"}) {
    mkdir((root_ + sub).c_str(), 0700);
  }
  setenv("HOME", (root_ + "home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root_ + "home/.config").c_str(), 1);
  setenv("TMPDIR", (root_ + "tmp").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root_ + "runtime").c_str(), 1);
}

SpoolTestEnvironment::~SpoolTestEnvironment() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

bool WriteTestFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary);
  file << content;
  return static_cast<bool>(file.flush());
}
