#include "tests/support/testenv.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// The temporary folder the test process started with, before a test pointed TMPDIR
// into a tree of its own.
const std::string& OriginalTempFolder() {
  static const std::string folder = std::filesystem::temp_directory_path().string();
  return folder;
}

}  // namespace

TestEnvironment::TestEnvironment() {
  std::string pattern = OriginalTempFolder() + "/olvaro-test.XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern + "/";
  for (const char* sub : {"home", "home/.config", "tmp", "runtime"}) {
    mkdir((root_ + sub).c_str(), 0700);
  }
  setenv("HOME", (root_ + "home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", ConfigFolder().c_str(), 1);
  setenv("TMPDIR", (root_ + "tmp").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root_ + "runtime").c_str(), 1);
}

TestEnvironment::~TestEnvironment() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::optional<std::string> ReadTestFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

bool WriteTestFile(const std::string& path, const std::string& content) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  return static_cast<bool>(file.flush());
}

int RunTestProgram(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool InContinuousIntegration() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}
