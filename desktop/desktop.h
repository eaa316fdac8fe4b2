// The desktop half of the program: the tray icon with its pop-up window, About and the
// update notice. Everything here belongs to the thread that created the QApplication.
#pragma once

#include <functional>

#include "desktopcore/desktopstartup.h"
#include "desktop/formmain.h"

// Whether a desktop session is there to show windows in (DISPLAY or WAYLAND_DISPLAY
// set). Callable before any QApplication exists.
bool HasDisplay();

// Whether the desktop shows tray icons; needs the QApplication.
bool HasSystemTray();

// Creates the main window (which runs `startup`'s steps), hands it to `ready` (for
// example to connect a "show yourself" request to TFormMain::BringToFront), runs the
// event loop until "Exit" and destroys the window again. Returns the loop's exit code.
int RunDesktop(DesktopStartup& startup, const std::function<void(TFormMain&)>& ready = {});
