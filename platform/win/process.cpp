#include "platform/process.h"

#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>
#include <windows.h>

#include "platform/win/commandline.h"
#include "platform/win/widetext.h"

namespace {

// Waits for the child in the background and reports how it ended.
void WatchChild(HANDLE process, const std::function<void(int)>& onExit) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  const bool known = GetExitCodeProcess(process, &code) != 0;
  CloseHandle(process);
  if (onExit) onExit(known ? static_cast<int>(code) : -1);
}

}  // namespace

std::string FindProgramOnPath(const std::string& name) {
  if (name.empty()) return {};
  // SearchPathW tries the name as it is first, then with ".exe" when it has no extension.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = SearchPathW(nullptr, ToWidePath(name).c_str(), L".exe", static_cast<DWORD>(buffer.size()),
                                     buffer.data(), nullptr);
    if (length == 0) return {};
    if (length < buffer.size()) {
      const DWORD attributes = GetFileAttributesW(buffer.data());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
      return ToUtf8(std::wstring_view(buffer.data(), length));
    }
    buffer.resize(length);
  }
}

int StartDetachedProcess(const std::vector<std::string>& argv, std::function<void(int exitCode)> onExit) {
  if (argv.empty() || argv.front().empty()) return EINVAL;
  const std::string program = FindProgramOnPath(argv.front());
  if (program.empty()) return ENOENT;
  std::wstring commandLine = BuildCommandLine(argv);

  // No handle is inherited; the child's standard streams are the null device.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(ToWide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      DETACHED_PROCESS, nullptr, nullptr, &startup, &process)) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES;
  }
  CloseHandle(process.hThread);
  try {
    std::thread(WatchChild, process.hProcess, onExit).detach();
  } catch (const std::system_error&) {
    WatchChild(process.hProcess, onExit);
  }
  return 0;
}
