#include "platform/osversion.h"

#include <windows.h>

#include "platform/windowsversion.h"

std::string DescribeOperatingSystem() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const bool ok = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != 0;
#pragma GCC diagnostic pop
  return FormatWindowsVersion(ok, version.dwMajorVersion, version.dwMinorVersion, version.wProductType);
}
