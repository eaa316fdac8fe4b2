// The program with its tray icon and pop-up window. UI thread only.
#pragma once

#include "app/service.h"

// Shows the tray icon, runs the start-up sequence from the window's creation and the
// event loop until "Exit" or SIGTERM/SIGINT. Needs the QApplication and a tray.
int RunWithWindow(CSingleInstance& instance, CStartupSequence& startup);

