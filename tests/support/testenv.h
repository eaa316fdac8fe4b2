// A fresh set of per-user folders for one test: HOME, XDG_CONFIG_HOME, TMPDIR and
// XDG_RUNTIME_DIR (mode 0700) point into a new temporary tree, removed again at the end.
#pragma once

#include <optional>
#include <string>
#include <vector>

class TestEnvironment {
public:
  TestEnvironment();
  ~TestEnvironment();
  TestEnvironment(const TestEnvironment&) = delete;
  TestEnvironment& operator=(const TestEnvironment&) = delete;

  // The root of the tree, ending in '/'.
  const std::string& Root() const { return root_; }
  // What XDG_CONFIG_HOME points to, ending in '/'.
  std::string ConfigFolder() const { return root_ + "home/.config/"; }
  // The program key's file.
  std::string KeyFile() const { return ConfigFolder() + "Vostrel/OlvaroDesktop.reg"; }
  std::string AutostartEntry() const { return ConfigFolder() + "autostart/OlvaroDesktop.desktop"; }
  // What TMPDIR points to, ending in '/'.
  std::string TempFolder() const { return root_ + "tmp/"; }
  // What XDG_RUNTIME_DIR points to, ending in '/'.
  std::string RuntimeFolder() const { return root_ + "runtime/"; }

private:
  std::string root_;
};

// The whole file, or null when it cannot be read.
std::optional<std::string> ReadTestFile(const std::string& path);
// Writes `content` to `path`, creating the folders above it; false on failure.
bool WriteTestFile(const std::string& path, const std::string& content = "x");
// Runs `arguments` (the program first, found on PATH) and waits; the exit status, or -1.
int RunTestProgram(const std::vector<std::string>& arguments);

// True in CI (CI=true), where every service the tests need is installed and started.
bool InContinuousIntegration();

// Leaves the test when a service it needs is missing: a skip on a developer's machine, a
// failure in CI, where a missing service is a missing install step.
#define SKIP_WITHOUT_SERVICE(available, why)   \
  if (!(available)) {                          \
    if (InContinuousIntegration()) FAIL() << why; \
    GTEST_SKIP() << why;                       \
  }
