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
