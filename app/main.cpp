// olvaro-desktop: the print server for phones. On a desktop with a tray it shows its
// icon and pop-up window; without a display or tray it runs as the print service alone.
#include "app/startup.h"
#include "app/windowed.h"
#include "platform/signals.h"
#include "platform/singleinstance.h"
#include "desktop/desktop.h"

#include <QApplication>
#include <cstdlib>
#include <memory>

namespace {

// A display that cannot be reached must not end the program: Qt then falls back to
// drawing off screen, where there is no tray, and the print service runs alone.
void PreferReachableDisplay() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  setenv("QT_QPA_PLATFORM", wayland && *wayland ? "wayland;xcb;offscreen" : "xcb;offscreen", 0);
}

}  // namespace

// The command line is not interpreted: a start with " /autorun" is a start by hand.
int main(int argc, char** argv) {
  PrepareProcessSignals();

  // Declared before the instance so that it outlives the thread serving show requests.
  std::unique_ptr<QApplication> application;
  CSingleInstance instance;
  if (!instance.Acquire()) {
    CSingleInstance::RequestShowFromRunningInstance();
    return 0;
  }

  CStartupSequence startup;
  if (HasDisplay()) {
    PreferReachableDisplay();
    application = std::make_unique<QApplication>(argc, argv);
    if (HasSystemTray()) return RunWithWindow(instance, startup);
  }
  return RunWithoutWindow(instance, startup);
}
