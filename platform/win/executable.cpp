#include "platform/executable.h"

#include <vector>
#include <windows.h>

#include "platform/win/widetext.h"

std::string GetExecutablePath() {
  // Long paths need more than MAX_PATH; the buffer grows until the name fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return ToUtf8(std::wstring_view(buffer.data(), length));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string GetExecutableFolder() {
  const std::string path = GetExecutablePath();
  const auto separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string GetExecutableCommandWord() {
  const std::string path = GetExecutablePath();
  return path.empty() ? path : "\"" + path + "\"";
}
