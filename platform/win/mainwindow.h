// The program's main window as other processes find it: a later start of the program,
// which restores it, and the uninstaller, which sends it WM_CLOSE to end the program.
#pragma once

constexpr wchar_t kMainWindowClass[] = L"OlvaroDesktopMain";
constexpr wchar_t kMainWindowTitle[] = L"Olvaro Desktop";
