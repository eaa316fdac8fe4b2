#include "platform/windowsversion.h"

#include <cstdio>

namespace {

constexpr unsigned kVerNtWorkstation = 1;

}  // namespace

std::string FormatWindowsVersion(bool queryOk, unsigned major, unsigned minor, unsigned productType) {
  if (!queryOk) return "Windows";
  if (major == 6 && minor == 1 && productType == kVerNtWorkstation) return "Windows 7";
  if (major == 6 && minor == 0 && productType == kVerNtWorkstation) return "Windows Vista";
  if (major == 5 && minor == 1) return "Windows XP";
  char text[40] = {};
  std::snprintf(text, sizeof text, "Windows %u.%u", major, minor);
  return text;
}
