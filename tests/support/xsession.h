// A private X display (Xvfb) with trayer as its tray host, for tests that need a real
// desktop session. Both programs end when the object goes.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class XSessionWithTray {
public:
  XSessionWithTray();
  ~XSessionWithTray();
  XSessionWithTray(const XSessionWithTray&) = delete;
  XSessionWithTray& operator=(const XSessionWithTray&) = delete;

  // Whether Xvfb and trayer are installed; without them nothing is started.
  static bool Available();
  // True when the display answers and the tray host runs.
  bool Started() const { return started_; }
  // ":N", the value for DISPLAY.
  const std::string& Display() const { return display_; }

  // This process's environment with DISPLAY set to the session and `changes`
  // ("NAME=value") put in.
  std::vector<std::string> Environment(const std::vector<std::string>& changes = {}) const;

  // Whether a window of the X class `windowClass` sits inside the tray host's panel.
  bool IsEmbeddedInTray(const std::string& windowClass) const;

private:
  std::string display_;
  pid_t server_ = -1;
  pid_t tray_ = -1;
  bool started_ = false;
};

// Starts `arguments` (the program found on PATH) with `environment`; -1 on failure.
pid_t SpawnWithEnvironment(const std::vector<std::string>& arguments, const std::vector<std::string>& environment);
// Asks the process to end and reaps it.
void EndProcess(pid_t pid);
