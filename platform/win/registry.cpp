// The real registry. String values are stored as UTF-16 (REG_SZ) and read back as UTF-8,
// so every character survives; other types are bytes as they are.
#include "platform/registry.h"

#include <cstring>
#include <vector>
#include <windows.h>

#include "platform/win/widetext.h"

namespace {

constexpr wchar_t kProgramKey[] = L"SOFTWARE\\Vostrel\\OlvaroDesktop";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

REGSAM AccessMask(RegistryAccess access) {
  switch (access) {
    case RegistryAccess::Read:
      return KEY_READ;
    case RegistryAccess::Write:
      return KEY_WRITE;
    case RegistryAccess::ReadWrite:
      break;
  }
  return KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
}

RegistryStatus StatusOf(LSTATUS result) {
  switch (result) {
    case ERROR_SUCCESS:
      return RegistryStatus::Success;
    case ERROR_FILE_NOT_FOUND:
      return RegistryStatus::NotFound;
    case ERROR_MORE_DATA:
      return RegistryStatus::MoreData;
    default:
      return RegistryStatus::Failed;
  }
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

class WinRegistryKey final : public RegistryKey {
public:
  explicit WinRegistryKey(HKEY key) : key_(key) {}
  ~WinRegistryKey() override { RegCloseKey(key_); }
  WinRegistryKey(const WinRegistryKey&) = delete;
  WinRegistryKey& operator=(const WinRegistryKey&) = delete;

  RegistryStatus QueryValue(const std::string& name, void* buffer, uint32_t* size) override {
    if (buffer && !size) return RegistryStatus::Failed;
    const std::wstring wideName = ToWide(name);
    DWORD type = 0;
    DWORD length = 0;
    LSTATUS result = RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, nullptr, &length);
    if (result != ERROR_SUCCESS) return StatusOf(result);
    // The value may change between the calls; read it whole once it fits.
    std::vector<unsigned char> data(length);
    for (;;) {
      result = RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, data.data(), &length);
      if (result != ERROR_MORE_DATA) break;
      data.resize(length);
    }
    if (result != ERROR_SUCCESS) return StatusOf(result);
    data.resize(length);
    if (IsText(type)) data = TextData(data);

    const auto dataLength = static_cast<uint32_t>(data.size());
    if (!buffer) {
      if (size) *size = dataLength;
      return RegistryStatus::Success;
    }
    const uint32_t capacity = *size;
    *size = dataLength;
    if (dataLength > capacity) return RegistryStatus::MoreData;
    if (dataLength > 0) std::memcpy(buffer, data.data(), dataLength);
    return RegistryStatus::Success;
  }

  RegistryStatus SetValue(const std::string& name, RegistryType type, const void* data, uint32_t size) override {
    if (size > 0 && !data) return RegistryStatus::Failed;
    const auto* bytes = static_cast<const char*>(data);
    if (type == RegistryType::String) {
      // The text ends at its first zero; it is stored with one terminating zero unit.
      const std::string_view text(bytes, size);
      const std::wstring wide = ToWide(text.substr(0, text.find('\0')));
      return StatusOf(RegSetValueExW(key_, ToWide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                                     static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))));
    }
    return StatusOf(RegSetValueExW(key_, ToWide(name).c_str(), 0, static_cast<DWORD>(type),
                                   reinterpret_cast<const BYTE*>(bytes), size));
  }

  RegistryStatus DeleteValue(const std::string& name) override {
    return StatusOf(RegDeleteValueW(key_, ToWide(name).c_str()));
  }

  RegistryStatus Flush() override { return StatusOf(RegFlushKey(key_)); }

private:
  // UTF-16 data as UTF-8 with one terminating zero byte.
  static std::vector<unsigned char> TextData(const std::vector<unsigned char>& data) {
    std::wstring wide(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), data.data(), wide.size() * sizeof(wchar_t));
    const std::string text = ToUtf8(std::wstring_view(wide).substr(0, wide.find(L'\0')));
    std::vector<unsigned char> converted(text.begin(), text.end());
    converted.push_back(0);
    return converted;
  }

  HKEY key_;
};

}  // namespace

std::unique_ptr<RegistryKey> CreateProgramKey(RegistryAccess access) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kProgramKey, 0, nullptr, REG_OPTION_NON_VOLATILE, AccessMask(access), nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<WinRegistryKey>(key);
}

std::unique_ptr<RegistryKey> OpenRunKey(RegistryAccess access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, AccessMask(access), &key) != ERROR_SUCCESS) return nullptr;
  return std::make_unique<WinRegistryKey>(key);
}
