// Reads the running program's windows with Win32 calls for tray_test.sh. CLASS names
// another of the program's windows than the main one (the pop-up):
//   windowprobe state [CLASS]   "hidden", "shown" or "front" (shown and the foreground window)
//   windowprobe title [CLASS]   the window's title
//   windowprobe items [CLASS]   the items of the window's list box, one a line
//   windowprobe close [CLASS]   sends WM_CLOSE, as an uninstaller does to the main window
//   windowprobe geometry        the pop-up's left, top, width and height
//   windowprobe placement       checks the pop-up's position against the pointer and the
//                               taskbar the shell reports; exit status 1 with the reason
//   windowprobe default         the default printer's name
//   windowprobe count           the number of main windows
//   windowprobe point PART [N]  "X Y" of the middle of a pop-up part in client coordinates,
//                               from the layout the program draws: chooser, settings,
//                               logo, or item N (from 1) of the printer list
// Exit status 2 when there is no such window.
#include <windows.h>
#include <shellapi.h>
#include <winspool.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktopcore/placement.h"
#include "desktopcore/popuplayout.h"
#include "platform/win/mainwindow.h"
#include "platform/win/widetext.h"

namespace {

int Placement(HWND main) {
  POINT pointer{};
  GetCursorPos(&pointer);
  APPBARDATA data{};
  data.cbSize = sizeof data;
  if (!SHAppBarMessage(ABM_GETTASKBARPOS, &data)) {
    std::printf("the shell reports no taskbar\n");
    return 1;
  }
  const TaskbarPosition taskbar{{data.rc.left, data.rc.top, data.rc.right, data.rc.bottom},
                                static_cast<TaskbarEdge>(data.uEdge)};
  const PopupPlacement expected = PlacePopup(pointer.x, pointer.y, taskbar);
  RECT frame{};
  GetWindowRect(main, &frame);
  std::printf("pointer %ld,%ld taskbar %ld,%ld-%ld,%ld edge %u: window at %ld,%ld, expected %d,%d\n", pointer.x,
              pointer.y, data.rc.left, data.rc.top, data.rc.right, data.rc.bottom, data.uEdge, frame.left, frame.top,
              expected.left, expected.top);
  return frame.left == expected.left && frame.top == expected.top ? 0 : 1;
}

int Items(HWND window) {
  const HWND list = FindWindowExW(window, nullptr, L"LISTBOX", nullptr);
  const LRESULT count = list ? SendMessageW(list, LB_GETCOUNT, 0, 0) : 0;
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring item(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)), L'\0');
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
    std::printf("%s\n", ToUtf8(item).c_str());
  }
  return 0;
}

int Point(const std::string& part, const char* number) {
  LayoutBox box;
  if (part == "chooser")
    box = kPopup.chooser;
  else if (part == "settings")
    box = kPopup.settings;
  else if (part == "logo")
    box = kPopup.logo;
  else if (part == "item" && number)
    box = kPopup.PrinterListItem(std::atoi(number) - 1);
  else
    return 64;
  std::printf("%d %d\n", box.CentreX(), box.CentreY());
  return 0;
}

int DefaultPrinter() {
  wchar_t name[512];
  DWORD size = std::size(name);
  if (!GetDefaultPrinterW(name, &size)) return 1;
  std::printf("%s\n", ToUtf8(name).c_str());
  return 0;
}

int Count() {
  int count = 0;
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, kMainWindowClass, nullptr))) ++count;
  std::printf("%d\n", count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "default") return DefaultPrinter();
  if (command == "count") return Count();
  if (command == "point" && argc > 2) return Point(argv[2], argc > 3 ? argv[3] : nullptr);
  const std::wstring otherClass = argc > 2 ? ToWide(argv[2]) : L"";
  const HWND window =
      otherClass.empty() ? FindWindowW(kMainWindowClass, kMainWindowTitle) : FindWindowW(otherClass.c_str(), nullptr);
  if (!window) return 2;
  if (command == "state") {
    const char* state = !IsWindowVisible(window) ? "hidden" : GetForegroundWindow() == window ? "front" : "shown";
    std::printf("%s\n", state);
    return 0;
  }
  if (command == "title") {
    wchar_t title[256] = {};
    GetWindowTextW(window, title, static_cast<int>(std::size(title)));
    std::printf("%s\n", ToUtf8(title).c_str());
    return 0;
  }
  if (command == "geometry") {
    RECT frame{};
    GetWindowRect(window, &frame);
    std::printf("%ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
    return 0;
  }
  if (command == "placement") return Placement(window);
  if (command == "items") return Items(window);
  if (command == "close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  std::fprintf(
      stderr,
      "usage: windowprobe state|title|items|close [CLASS], geometry|placement|default|count, or point PART [N]\n");
  return 64;
}
