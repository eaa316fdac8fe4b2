// The instance lock is the named mutex "VostrelWinPrintServer"; a later start finds the
// running one by its top-level window titled "Olvaro Desktop" and restores it.
#include "platform/singleinstance.h"

#include <thread>
#include <windows.h>

namespace {

constexpr wchar_t kMutexName[] = L"VostrelWinPrintServer";
constexpr wchar_t kWindowTitle[] = L"Olvaro Desktop";
constexpr wchar_t kWindowClass[] = L"OlvaroDesktopShowRequests";

// Runs the show request when the window is restored, and hides the window again.
LRESULT CALLBACK ShowRequestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SHOWWINDOW && wParam == TRUE) {
    if (auto* onShow = reinterpret_cast<std::function<void()>*>(GetWindowLongPtrW(window, GWLP_USERDATA))) (*onShow)();
    PostMessageW(window, WM_APP, 0, 0);
  } else if (message == WM_APP) {
    ShowWindow(window, SW_HIDE);
  } else if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  } else if (message == WM_DESTROY) {
    PostQuitMessage(0);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

struct CSingleInstance::State {
  HANDLE mutex = nullptr;
  std::function<void()> onShow;
  HWND window = nullptr;  // the hidden window that later starts find, while listening
  std::thread thread;
};

CSingleInstance::CSingleInstance() : state_(std::make_unique<State>()) {}

CSingleInstance::~CSingleInstance() {
  if (state_->thread.joinable()) {
    PostMessageW(state_->window, WM_CLOSE, 0, 0);
    state_->thread.join();
  }
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

// Until the program has windows of its own, a hidden window with the program's title
// stands where a later start looks for it.
bool CSingleInstance::ListenForShowRequests(std::function<void()> onShow) {
  if (state_->thread.joinable()) return false;
  state_->onShow = std::move(onShow);
  HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!created) return false;
  State* state = state_.get();
  state->thread = std::thread([state, created] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ShowRequestProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    state->window = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr,
                                    windowClass.hInstance, nullptr);
    if (state->window) SetWindowLongPtrW(state->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state->onShow));
    SetEvent(created);
    if (!state->window) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  });
  WaitForSingleObject(created, INFINITE);
  CloseHandle(created);
  if (state_->window) return true;
  state_->thread.join();
  return false;
}

bool CSingleInstance::RequestShowFromRunningInstance() {
  const HWND window = FindWindowW(nullptr, kWindowTitle);
  if (!window) return false;
  ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
  return true;
}
