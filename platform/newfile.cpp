#include "platform/newfile.h"

#include <cstring>
#include <utility>

namespace {
// Bytes gathered before they are written: the size of the engine's reads from a socket.
constexpr size_t kGatherSize = 64 * 1024;
}  // namespace

CNewFile::~CNewFile() { Close(); }

CNewFile::CNewFile(CNewFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      gathered_(std::move(other.gathered_)),
      gatheredSize_(std::exchange(other.gatheredSize_, 0)),
      failed_(std::exchange(other.failed_, false)) {}

CNewFile& CNewFile::operator=(CNewFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    gathered_ = std::move(other.gathered_);
    gatheredSize_ = std::exchange(other.gatheredSize_, 0);
    failed_ = std::exchange(other.failed_, false);
  }
  return *this;
}

bool CNewFile::Write(const void* data, size_t size) {
  if (fd_ < 0 || failed_) return false;
  const char* bytes = static_cast<const char*>(data);
  if (gatheredSize_ + size > kGatherSize && !Flush()) return false;
  if (size >= kGatherSize) {
    failed_ = !WriteToFile(bytes, size);
    return !failed_;
  }
  if (!gathered_) gathered_ = std::make_unique_for_overwrite<char[]>(kGatherSize);
  std::memcpy(gathered_.get() + gatheredSize_, bytes, size);
  gatheredSize_ += size;
  return true;
}

bool CNewFile::Flush() {
  if (fd_ < 0) return false;
  if (gatheredSize_ > 0 && !failed_) failed_ = !WriteToFile(gathered_.get(), gatheredSize_);
  gatheredSize_ = 0;
  return !failed_;
}

bool CNewFile::Close() {
  if (fd_ < 0) return false;
  const bool written = Flush();
  return CloseFile() && written;
}
