// The Win32 face of the desktop: the tray icon with its pop-up window, About, Recent
// documents and the update notice. Everything here belongs to the thread that calls it.
#pragma once

#include "desktopcore/desktopstartup.h"

// Creates the main window (which runs `startup`'s steps), runs the message loop until
// "Exit" or a WM_CLOSE sent to the window from outside, and destroys the windows again.
// Returns 0.
int RunDesktop(DesktopStartup& startup);
