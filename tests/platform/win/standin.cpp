// Stands in for SumatraPDF and Word: appends the command line it was started with, as
// UTF-8, to the file that OLVARO_STANDIN_LOG names, and ends.
#include <cstdio>
#include <windows.h>

int main() {
  wchar_t log[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"OLVARO_STANDIN_LOG", log, MAX_PATH) == 0) return 2;
  const wchar_t* line = GetCommandLineW();
  char text[8192] = {};
  WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text - 1, nullptr, nullptr);
  FILE* file = _wfopen(log, L"ab");
  if (!file) return 3;
  std::fprintf(file, "%s\n", text);
  std::fclose(file);
  return 0;
}
