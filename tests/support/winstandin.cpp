// Stands in for SumatraPDF and Word: appends the command line it was started with, as
// UTF-8, to the file that OLVARO_STANDIN_LOG names, and ends.
// With --main-window it stands in for the running program: it keeps a window of the
// program's main window class and title, logs "window", and ends when that window is
// sent WM_CLOSE, which it logs too.
#include <cstdio>
#include <cstring>
#include <windows.h>

namespace {

wchar_t g_log[MAX_PATH] = {};

bool Append(const char* line) {
  FILE* file = _wfopen(g_log, L"ab");
  if (!file) return false;
  std::fprintf(file, "%s\n", line);
  std::fclose(file);
  return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_CLOSE) return DefWindowProcW(window, message, wParam, lParam);
  Append("WM_CLOSE");
  PostQuitMessage(0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (GetEnvironmentVariableW(L"OLVARO_STANDIN_LOG", g_log, MAX_PATH) == 0) return 2;
  if (argc == 2 && std::strcmp(argv[1], "--main-window") == 0) {
    const WNDCLASSW windowClass{0,       MainWindowProc, 0,       0,       GetModuleHandleW(nullptr),
                                nullptr, nullptr,        nullptr, nullptr, L"OlvaroDesktopMain"};
    if (!RegisterClassW(&windowClass) ||
        !CreateWindowExW(0, windowClass.lpszClassName, L"Olvaro Desktop", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                         nullptr, windowClass.hInstance, nullptr)) {
      return 4;
    }
    if (!Append("window")) return 3;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
  }
  const wchar_t* line = GetCommandLineW();
  char text[8192] = {};
  WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text - 1, nullptr, nullptr);
  return Append(text) ? 0 : 3;
}
