#include "platform/filesystem.h"

#include <aclapi.h>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <windows.h>

#include "platform/win/usertoken.h"
#include "platform/win/widetext.h"

bool PathExists(const std::string& path) {
  return GetFileAttributesW(ToWidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The user's temporary folder is private to the user already; what must not stand there
// is a link (a junction) leading elsewhere or a folder another account made.
bool EnsurePrivateFolder(const std::string& path) {
  const std::wstring wide = ToWidePath(path);
  if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;

  // Judged through a handle, so the object checked is the one that is there.
  const HANDLE folder = CreateFileW(wide.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool plainFolder = GetFileInformationByHandle(folder, &information) &&
                           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const bool ownerKnown = GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                          nullptr, &descriptor) == ERROR_SUCCESS;
  const bool ours = ownerKnown && IsCurrentUserOrAdministrators(owner);
  if (descriptor) LocalFree(descriptor);
  CloseHandle(folder);
  return plainFolder && ours;
}

int64_t FreeBytesAt(const std::string& path) {
  ULARGE_INTEGER available{};  // what this user's quota leaves, not the whole disk
  if (!GetDiskFreeSpaceExW(ToWidePath(path).c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(std::min<ULONGLONG>(available.QuadPart, INT64_MAX));
}
