// The per-user registry: the program's own key and the start-up (Run) key, with the
// semantics of the Win32 registry calls (buffer sizes, "more data" failures).
// Any thread may open keys and use them; a key object belongs to the thread that opened it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Value types as the registry numbers them.
enum class RegistryType : uint32_t {
  String = 1,  // REG_SZ
  Binary = 3,  // REG_BINARY
  Dword = 4,   // REG_DWORD
  Qword = 11,  // REG_QWORD
};

enum class RegistryStatus {
  Success,
  NotFound,  // no such value
  MoreData,  // the data does not fit the caller's buffer
  Failed,    // anything else: no access, an I/O error
};

// What the key is opened for; a write on a key opened for reading fails.
enum class RegistryAccess { Read, Write, ReadWrite };

// An open key. Names are UTF-8 and compared without regard to ASCII case; string data
// is UTF-8, the 8-bit code page here.
class RegistryKey {
public:
  virtual ~RegistryKey() = default;

  // Copies the value's data into `buffer`, whose capacity `*size` gives; `*size` then
  // holds the data's length (also on MoreData). A null `buffer` asks for the length
  // only, and a null `size` as well for the value's existence only.
  virtual RegistryStatus QueryValue(const std::string& name, void* buffer, uint32_t* size) = 0;
  virtual RegistryStatus SetValue(const std::string& name, RegistryType type, const void* data,
                                  uint32_t size) = 0;
  virtual RegistryStatus DeleteValue(const std::string& name) = 0;
  // Makes what was written durable.
  virtual RegistryStatus Flush() = 0;
};

// Creates or opens HKEY_CURRENT_USER\SOFTWARE\Vostrel\OlvaroDesktop; null on failure.
std::unique_ptr<RegistryKey> CreateProgramKey(RegistryAccess access);

// Opens HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run without creating
// it; null on failure. Its values are commands that start at log-on; it answers
// existence queries only, since their data is never read back.
std::unique_ptr<RegistryKey> OpenRunKey(RegistryAccess access);
