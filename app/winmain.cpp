// olvaro-desktop.exe: the print server for phones with its tray icon and pop-up window.
// A second start brings the running one's window to the front and leaves.
#include <windows.h>

#include "app/windowstartup.h"
#include "desktopwin/desktopwin.h"
#include "platform/singleinstance.h"

// The command line is not interpreted: a start with " /autorun" is a start by hand.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CSingleInstance instance;
  if (!instance.Acquire()) {
    CSingleInstance::RequestShowFromRunningInstance();
    return 0;
  }
  CStartupSequence startup;
  CWindowStartup windowStartup(startup);
  return RunDesktop(windowStartup);
}
