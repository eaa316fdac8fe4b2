// The print methods that hand a file to an outside program: SumatraPDF for PDF, Word for
// Word documents, and the "print" verb the file's type registers for anything else. They
// print on the system's default printer and never wait for the program to finish.
#include "print/printer.h"

#include <cerrno>
#include <filesystem>
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include "platform/win/print/windowsprint.h"
#include "platform/win/widetext.h"

namespace {

constexpr DWORD kValueCapacity = 2048;  // bytes, 1024 wide characters

// The default value of a key under HKEY_LOCAL_MACHINE; empty when it cannot be read.
std::wstring MachineDefaultValue(const std::wstring& subKey) {
  wchar_t value[kValueCapacity / sizeof(wchar_t) + 1] = {};
  DWORD size = kValueCapacity;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  return value;
}

}  // namespace

bool IsEmptyFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::file_size(std::filesystem::u8path(path), error) == 0 && !error;
}

HANDLE StartPdfViewer(const std::string& path, const std::string& printSettings) {
  if (IsEmptyFile(path)) return nullptr;
  // No program name: the system finds SumatraPDF.exe from the command line's first word,
  // beginning with the folder of this executable.
  std::wstring commandLine = L"SumatraPDF.exe -print-to-default ";
  if (!printSettings.empty()) commandLine += L"-print-settings \"" + ToWide(printSettings) + L"\" ";
  commandLine += L"-exit-on-print \"" + ToWidePath(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Starts "SumatraPDF.exe -print-to-default -exit-on-print" for the file; true when the
// viewer process was created.
bool PrintPdfFile(const std::string& path) {
  const HANDLE viewer = StartPdfViewer(path, "");
  if (viewer == nullptr) return false;
  CloseHandle(viewer);
  return true;
}

std::string FindLocalServerPath(const std::string& progId) {
  const std::wstring classId = MachineDefaultValue(L"Software\\Classes\\" + ToWide(progId) + L"\\CLSID");
  if (classId.empty()) return {};
  std::wstring server = MachineDefaultValue(L"Software\\Classes\\CLSID\\" + classId + L"\\LocalServer32");
  const auto slash = server.rfind(L'/');
  if (slash != std::wstring::npos) server.resize(slash);
  return ToUtf8(server);
}

// Starts Word, found through "Word.Application", to print the file and quit; false only
// when Word is not registered.
bool PrintWordFile(const std::string& path) {
  if (IsEmptyFile(path)) return false;
  const std::string word = FindLocalServerPath("Word.Application");
  if (word.empty()) return false;
  const std::wstring parameters = L"\"" + ToWidePath(path) + L"\" /q /n /mFilePrintDefault /mFileExit";
  ShellExecuteW(nullptr, nullptr, ToWide(word).c_str(), parameters.c_str(), nullptr, SW_SHOWMINNOACTIVE);
  return true;
}

// 0, or the system error code (1155 when nothing is registered to print that type).
int PrintWithShellVerb(const std::string& path) {
  if (IsEmptyFile(path)) return ENODATA;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring file = ToWidePath(path);
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.lpVerb = L"print";
  execute.lpFile = file.c_str();
  execute.nShow = SW_SHOWMINNOACTIVE;
  const int result = ShellExecuteExW(&execute) ? 0 : static_cast<int>(GetLastError());
  // Only a successful initialisation is balanced: another one on this thread is not ours.
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}
