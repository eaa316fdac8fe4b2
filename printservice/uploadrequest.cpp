#include "printservice/uploadrequest.h"

#include <cerrno>
#include <cstdlib>

#include "text/utf8.h"

int ReadCopies(const char* value) {
  if (value == nullptr) {
    return 1;
  }
  // strtol reads what atol reads, and saturates where atol's result is undefined.
  const long copies = std::strtol(value, nullptr, 10);
  return copies >= 1 && copies <= 99 ? static_cast<int>(copies) : 1;
}

std::string ReadUploadName(const char* value) {
  if (value == nullptr) {
    return "file";
  }
  std::string name(value);
  return IsValidUtf8(name) ? name : std::string();
}

int64_t AnnouncedLength(const char* value) {
  if (value == nullptr) return -1;
  char* end = nullptr;
  errno = 0;
  const long long length = std::strtoll(value, &end, 10);
  return end != value && *end == '\0' && errno == 0 && length >= 0 ? length : -1;
}

std::string DottedAddress(uint32_t ip) {
  return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
         std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF);
}
