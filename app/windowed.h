// The program with its tray icon and pop-up window. UI thread only.
#pragma once

#include "app/startup.h"
#include "platform/singleinstance.h"

#include <chrono>

// How long the end waits for a cloud poller that is still busy, printing a job say.
constexpr std::chrono::milliseconds kCloudStopGrace(1000);

// Shows the tray icon, runs the start-up sequence from the window's creation and the
// event loop until "Exit" or SIGTERM/SIGINT. Needs the QApplication and a tray.
int RunWithWindow(CSingleInstance& instance, CStartupSequence& startup);

// Runs the start-up sequence without a window until SIGTERM or SIGINT.
int RunWithoutWindow(CSingleInstance& instance, CStartupSequence& startup);
