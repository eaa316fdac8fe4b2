// HTML through RUNDLL32 and MSHTML's PrintHTML, whose print dialog nobody is there to
// answer: the dialog of the process we started is confirmed with Enter on its OK button.
#include "print/printer.h"

#include <cerrno>
#include <windows.h>

#include "platform/win/print/windowsprint.h"
#include "platform/win/widetext.h"

namespace {

constexpr int kSearches = 15;
constexpr DWORD kSearchDelayMs = 1000;
constexpr int kPresses = 30;
constexpr DWORD kPressIntervalMs = 500;
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kOkButton = 1;

struct DialogSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindPrintDialog(HWND window, LPARAM record) {
  auto* search = reinterpret_cast<DialogSearch*>(record);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[256] = {};
  GetClassNameW(window, className, 256);
  if (owner != search->processId || wcscmp(className, kDialogClass) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

void ConfirmPrintDialog(DWORD processId) {
  for (int search = 0; search < kSearches; ++search) {
    Sleep(kSearchDelayMs);
    DialogSearch record{processId, nullptr};
    EnumWindows(FindPrintDialog, reinterpret_cast<LPARAM>(&record));
    if (!record.found || !IsWindow(record.found)) continue;
    const HWND button = GetDlgItem(record.found, kOkButton);
    for (int press = 0; press < kPresses && IsWindow(button); ++press) {
      PostMessageW(button, WM_KEYDOWN, VK_RETURN, 1);
      PostMessageW(button, WM_KEYUP, VK_RETURN, 1);
      Sleep(kPressIntervalMs);
    }
    return;
  }
}

}  // namespace

// 0 once RUNDLL32 was started (its dialog confirmed within about 30 s), else its error
// code.
int PrintHtmlFile(const std::string& path) {
  if (IsEmptyFile(path)) return EINVAL;
  wchar_t program[MAX_PATH] = {};
  if (SearchPathW(nullptr, L"RUNDLL32.EXE", nullptr, MAX_PATH, program, nullptr) == 0) {
    return static_cast<int>(GetLastError());
  }
  std::wstring commandLine = L"RUNDLL32.EXE MSHTML.DLL,PrintHTML \"" + ToWidePath(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return static_cast<int>(GetLastError());
  }
  CloseHandle(process.hThread);
  // The process is known by its id from the start; its handle is not needed to find it.
  const DWORD processId = process.dwProcessId;
  CloseHandle(process.hProcess);
  ConfirmPrintDialog(processId);
  return 0;
}
