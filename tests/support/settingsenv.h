// A fresh set of per-user folders for one settings test: HOME, XDG_CONFIG_HOME, TMPDIR
// and XDG_RUNTIME_DIR point into a new temporary tree, removed again at the end.
#pragma once

#include <optional>
#include <string>
#include <vector>

class SettingsTestEnvironment {
public:
  SettingsTestEnvironment();
  ~SettingsTestEnvironment();
  SettingsTestEnvironment(const SettingsTestEnvironment&) = delete;
  SettingsTestEnvironment& operator=(const SettingsTestEnvironment&) = delete;

  // The root of the tree, ending in '/'.
  const std::string& Root() const { return root_; }
  // What XDG_CONFIG_HOME points to, ending in '/'.
  std::string ConfigFolder() const { return root_ + "home/.config/"; }
  // The program key's file.
  std::string KeyFile() const { return ConfigFolder() + "Vostrel/OlvaroDesktop.reg"; }
  std::string AutostartEntry() const { return ConfigFolder() + "autostart/OlvaroDesktop.desktop"; }

private:
  std::string root_;
};

// The whole file, or null when it cannot be read.
std::optional<std::string> ReadTestFile(const std::string& path);
// Writes `content` to `path`, creating the folders above it; false on failure.
bool WriteTestFile(const std::string& path, const std::string& content);
// Runs `arguments` (the program first, found on PATH) and waits; the exit status, or -1.
int RunTestProgram(const std::vector<std::string>& arguments);
