// File associations under HKEY_CLASSES_ROOT. Guessing a file's MIME type and listing the
// programs by MIME type belong to the Linux print methods; Windows prints by extension.
#include "platform/filetypes.h"

#include <windows.h>

#include "platform/win/widetext.h"

// An extension's key with a default value (the file type's ProgID) means a program
// handles it; a key without one does not.
bool HasDefaultApplication(const std::string& extension) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, ToWide(extension).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  const bool present = RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return present;
}

// The last change to any key where programs register or users choose associations:
// Windows updates a key's time whenever a value or subkey directly below it changes.
std::string FileAssociationsStamp() {
  const struct {
    HKEY root;
    const wchar_t* path;
  } kKeys[] = {{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes"},
               {HKEY_CURRENT_USER, L"SOFTWARE\\Classes"},
               {HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts"}};
  std::string stamp;
  for (const auto& entry : kKeys) {
    HKEY key = nullptr;
    FILETIME written{};
    DWORD subkeys = 0;
    if (RegOpenKeyExW(entry.root, entry.path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &written);
      RegCloseKey(key);
    }
    stamp += std::to_string(written.dwHighDateTime) + "." + std::to_string(written.dwLowDateTime) + "." +
             std::to_string(subkeys) + ";";
  }
  return stamp;
}
