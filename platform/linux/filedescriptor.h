// An owned POSIX file descriptor, closed when it goes (Linux implementations only).
#pragma once

#include <unistd.h>

class FileDescriptor {
public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  bool IsValid() const { return fd_ >= 0; }
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor; false when close reported an error.
  bool Reset() {
    const int fd = Release();
    return fd < 0 || close(fd) == 0;
  }

private:
  int fd_;
};
