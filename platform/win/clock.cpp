#include "platform/clock.h"

#include <windows.h>

uint64_t GetLocalFileTime() {
  FILETIME utc{}, local{};
  GetSystemTimeAsFileTime(&utc);
  FileTimeToLocalFileTime(&utc, &local);
  return (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
}
