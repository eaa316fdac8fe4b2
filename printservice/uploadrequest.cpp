#include "printservice/uploadrequest.h"

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
