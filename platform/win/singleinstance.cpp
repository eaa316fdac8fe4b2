// The instance lock is the named mutex "VostrelWinPrintServer"; a later start finds the
// running one by its main window and restores it.
#include "platform/singleinstance.h"

#include <windows.h>

#include "platform/win/mainwindow.h"

namespace {

constexpr wchar_t kMutexName[] = L"VostrelWinPrintServer";

}  // namespace

struct CSingleInstance::State {
  HANDLE mutex = nullptr;
};

CSingleInstance::CSingleInstance() : state_(std::make_unique<State>()) {}

CSingleInstance::~CSingleInstance() {
  if (state_->mutex) CloseHandle(state_->mutex);
}

bool CSingleInstance::Acquire() {
  if (state_->mutex) return true;
  // Only the report that the mutex existed means another instance; a mutex that cannot
  // be made at all does not keep the program from running.
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (existed) {
    if (mutex) CloseHandle(mutex);
    return false;
  }
  state_->mutex = mutex;
  return true;
}

// Later starts restore the main window itself, which shows itself when it is restored:
// there is nothing to listen for.
bool CSingleInstance::ListenForShowRequests(std::function<void()>) { return true; }

bool CSingleInstance::RequestShowFromRunningInstance() {
  // By class as well as title: the new-version notice bears the same title.
  const HWND window = FindWindowW(kMainWindowClass, kMainWindowTitle);
  if (!window) return false;
  ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
  return true;
}
