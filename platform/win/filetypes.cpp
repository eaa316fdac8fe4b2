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

namespace {

// When the key was last written and how many subkeys it has; Windows updates a key's time
// whenever a value or subkey directly below it changes.
std::string KeyStamp(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  FILETIME written{};
  DWORD subkeys = 0;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &written);
    RegCloseKey(key);
  }
  return std::to_string(written.dwHighDateTime) + "." + std::to_string(written.dwLowDateTime) + "." +
         std::to_string(subkeys) + ";";
}

}  // namespace

// The keys where programs register or users choose associations change when an extension
// comes or goes; a program chosen for an extension that already had a key changes only
// that key.
std::string FileAssociationsStamp(const std::vector<std::string>& extensions) {
  std::string stamp = KeyStamp(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes") +
                      KeyStamp(HKEY_CURRENT_USER, L"SOFTWARE\\Classes") +
                      KeyStamp(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts");
  for (const std::string& extension : extensions) {
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      stamp += KeyStamp(root, L"SOFTWARE\\Classes\\" + ToWide(extension));
    }
  }
  return stamp;
}
