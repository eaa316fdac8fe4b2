#include "platform/newfile.h"

#include <fcntl.h>
#include <io.h>
#include <utility>
#include <windows.h>

#include "platform/win/widetext.h"

CNewFile CNewFile::Create(const std::string& path) {
  // No FILE_SHARE_DELETE: nobody renames or deletes the file while it is being written.
  // CREATE_NEW refuses anything already there, a link included.
  const HANDLE handle = CreateFileW(ToWidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return CNewFile();
  // A name such as "CON.pdf" or "NUL" opens a device, not a file.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return CNewFile();
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) CloseHandle(handle);
  return CNewFile(fd);
}

bool CNewFile::WriteToFile(const char* bytes, size_t size) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

bool CNewFile::CloseFile() {
  return _close(std::exchange(fd_, -1)) == 0;
}
