// A file this process creates afresh and writes, such as a received document.
// One object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <string>

class CNewFile {
public:
  // Creates `path` for writing, readable and writable by this user only. Fails (the
  // result is not open) when anything is already there, a link included.
  static CNewFile Create(const std::string& path);

  CNewFile() = default;
  ~CNewFile();
  CNewFile(CNewFile&& other) noexcept;
  CNewFile& operator=(CNewFile&& other) noexcept;
  CNewFile(const CNewFile&) = delete;
  CNewFile& operator=(const CNewFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Appends all `size` bytes; false when any could not be written.
  bool Write(const void* data, size_t size);
  // Closes the file; false when it was not open or the system reported a loss.
  bool Close();

private:
  explicit CNewFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};
