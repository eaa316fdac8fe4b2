// Console control events (Ctrl+C, Ctrl+Break, closing the console, log-off, shut-down)
// stand for the termination signals; the handler only wakes the waiting thread.
#include "platform/signals.h"

#include <csignal>
#include <windows.h>

namespace {

HANDLE g_termination = nullptr;
volatile LONG g_received = 0;

BOOL WINAPI OnConsoleControl(DWORD event) {
  InterlockedExchange(&g_received, event == CTRL_C_EVENT ? SIGINT : SIGTERM);
  SetEvent(g_termination);
  // Returning lets a close, log-off or shut-down wait for the program to end cleanly.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void PrepareProcessSignals() {
  g_termination = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int WaitForTerminationSignal() {
  WaitForSingleObject(g_termination, INFINITE);
  return static_cast<int>(g_received);
}
