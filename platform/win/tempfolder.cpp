#include "platform/tempfolder.h"

#include <shlobj.h>
#include <windows.h>

#include "platform/win/widetext.h"

std::string GetUserTempFolder() {
  wchar_t buffer[MAX_PATH + 2] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
  if (length == 0 || length > MAX_PATH + 1) return "C:/Windows/Temp/";
  std::string folder = FromWidePath(std::wstring_view(buffer, length));
  if (folder.back() != '/') folder += '/';
  return folder;
}

// %LOCALAPPDATA%: state that stays on this PC and does not roam with the profile.
std::string GetUserStateFolder() {
  wchar_t* path = nullptr;
  std::string folder;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &path) == S_OK) {
    folder = FromWidePath(path);
  }
  CoTaskMemFree(path);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}
