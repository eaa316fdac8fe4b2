#include "platform/newfile.h"

#include <utility>

CNewFile::~CNewFile() { Close(); }

CNewFile::CNewFile(CNewFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

CNewFile& CNewFile::operator=(CNewFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}
