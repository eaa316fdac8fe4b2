#include "desktopwin/desktopwin.h"

#include <windows.h>
#include <commctrl.h>

#include "desktopwin/formmain.h"

int RunDesktop(DesktopStartup& startup) {
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
  CGdiplusSession gdiplus;
  {
    TFormMain form(startup, SystemDesktopSources());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return 0;
}
