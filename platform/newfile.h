// A file this process creates afresh and writes, such as a received document.
// One object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
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
  // Appends all `size` bytes. Small pieces are gathered and written in large blocks, so
  // a failure may show only at a later call or at Close: false once any could not be
  // written (errno tells why).
  bool Write(const void* data, size_t size);
  // Writes what is gathered; false once anything could not be written.
  bool Flush();
  // Writes what is gathered and closes the file; false when it was not open or the
  // system reported a loss.
  bool Close();

private:
  explicit CNewFile(int fd) : fd_(fd) {}
  // The system's own write and close.
  bool WriteToFile(const char* bytes, size_t size);
  bool CloseFile();

  int fd_ = -1;
  std::unique_ptr<char[]> gathered_;
  size_t gatheredSize_ = 0;
  bool failed_ = false;
};
