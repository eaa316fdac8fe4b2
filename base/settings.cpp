#include "base/settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>

#include "platform/executable.h"
#include "platform/random.h"
#include "platform/registry.h"

namespace {

constexpr uint32_t kDefaultPort = 33300;
constexpr uint32_t kStringBufferSize = 1024;
constexpr char kPortValue[] = "Port";
constexpr char kLastUpdateCheckTimeValue[] = "LastUpdateCheckTime";
constexpr char kMagicValue[] = "Magic";
constexpr std::string::size_type kCloudUuidLength = 36;
constexpr char kStartupValue[] = "OlvaroDesktop";
constexpr char kPrinterUuidValue[] = "PrinterUuid";
constexpr char kUuidUrnPrefix[] = "urn:uuid:";
constexpr char kShareWithAllPhonesValue[] = "ShareWithAllPhones";
constexpr char kAutorunSwitch[] = " /autorun";

template <size_t N>
uint64_t FromLittleEndian(const std::array<unsigned char, N>& bytes) {
  uint64_t number = 0;
  for (size_t i = N; i-- > 0;) number = (number << 8) | bytes[i];
  return number;
}

template <size_t N>
std::array<unsigned char, N> ToLittleEndian(uint64_t number) {
  std::array<unsigned char, N> bytes{};
  for (size_t i = 0; i < N; ++i) bytes[i] = static_cast<unsigned char>(number >> (8 * i));
  return bytes;
}

// The text of a string value: its data up to the first zero byte.
std::string TextUpToZero(const std::array<char, kStringBufferSize>& buffer, uint32_t length) {
  const auto end = buffer.begin() + std::min(length, kStringBufferSize);
  return std::string(buffer.begin(), std::find(buffer.begin(), end, '\0'));
}

// Stores `text` as a string value with its terminating zero.
RegistryStatus SetString(RegistryKey& key, const std::string& name, const std::string& text) {
  return key.SetValue(name, RegistryType::String, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

}  // namespace

uint32_t ReadPortSetting() {
  const auto key = CreateProgramKey(RegistryAccess::Read);
  if (!key) return kDefaultPort;
  // Data shorter than the buffer overwrites only its own bytes of the default.
  auto buffer = ToLittleEndian<4>(kDefaultPort);
  uint32_t size = buffer.size();
  if (key->QueryValue(kPortValue, buffer.data(), &size) != RegistryStatus::Success) return kDefaultPort;
  return static_cast<uint32_t>(FromLittleEndian(buffer));
}

uint64_t ReadLastUpdateCheckTime() {
  const auto key = CreateProgramKey(RegistryAccess::Read);
  if (!key) return 0;
  std::array<unsigned char, 8> buffer{};
  uint32_t size = buffer.size();
  if (key->QueryValue(kLastUpdateCheckTimeValue, buffer.data(), &size) != RegistryStatus::Success) return 0;
  return FromLittleEndian(buffer);
}

void WriteLastUpdateCheckTime(uint64_t value) {
  const auto key = CreateProgramKey(RegistryAccess::Write);
  if (!key) return;
  const auto bytes = ToLittleEndian<8>(value);
  key->SetValue(kLastUpdateCheckTimeValue, RegistryType::Binary, bytes.data(), bytes.size());
}

// Texts are UTF-8, which is the 8-bit code page here: they are stored as they are.
std::string ReadSettingString(const std::string& name) {
  const auto key = CreateProgramKey(RegistryAccess::Read);
  if (!key) return "-1";
  std::array<char, kStringBufferSize> buffer{};
  uint32_t size = buffer.size();
  if (key->QueryValue(name, buffer.data(), &size) != RegistryStatus::Success) return "";
  return TextUpToZero(buffer, size);
}

bool WriteSettingString(const std::string& name, const std::string& text) {
  const auto key = CreateProgramKey(RegistryAccess::Write);
  if (!key) return false;
  const bool stored = SetString(*key, name, text) == RegistryStatus::Success;
  key->Flush();
  return stored;
}

std::string ReadMagicValue() {
  const auto key = CreateProgramKey(RegistryAccess::ReadWrite);
  if (!key) return "-1";
  std::array<char, kStringBufferSize> buffer{};
  uint32_t size = buffer.size();
  if (key->QueryValue(kMagicValue, buffer.data(), &size) == RegistryStatus::Success) {
    return TextUpToZero(buffer, size);
  }
  // Absent or unreadable: leave an empty identity for the cloud code to replace.
  SetString(*key, kMagicValue, "");
  return "-1";
}

bool IsValidCloudUuid(const std::string& text) {
  return text.size() == kCloudUuidLength && std::all_of(text.begin(), text.end(), [](unsigned char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
         });
}

std::string ReadStoredCloudUuid() {
  std::string uuid = ReadSettingString(kMagicValue);
  return IsValidCloudUuid(uuid) ? uuid : std::string();
}

bool IsStartupEntryPresent() {
  const auto key = OpenRunKey(RegistryAccess::Read);
  return key && key->QueryValue(kStartupValue, nullptr, nullptr) == RegistryStatus::Success;
}

bool ToggleStartupEntry(bool present) {
  const auto key = OpenRunKey(RegistryAccess::Write);
  if (!key) return present;
  if (present) return key->DeleteValue(kStartupValue) != RegistryStatus::Success;

  const std::string program = GetExecutableCommandWord();
  if (program.empty()) return present;
  const std::string command = program + kAutorunSwitch;
  return SetString(*key, kStartupValue, command) == RegistryStatus::Success;
}

namespace {

// "urn:uuid:" and a UUID in its text form: hexadecimal digits in groups of 8-4-4-4-12.
bool IsUuidUrn(const std::string& text) {
  const std::string prefix = kUuidUrnPrefix;
  if (text.size() != prefix.size() + kCloudUuidLength || text.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = 0; i < kCloudUuidLength; ++i) {
    const char c = text[prefix.size() + i];
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::string ReadPrinterUuid() {
  // Two first calls at once must not make two identities.
  static std::mutex making;
  const std::lock_guard lock(making);
  const std::string stored = ReadSettingString(kPrinterUuidValue);
  if (IsUuidUrn(stored)) return stored;
  // Absent or spoiled: a new identity, kept only when it could be stored, so that every
  // later call gives the same one.
  const std::string uuid = MakeRandomUuid();
  if (uuid.empty()) return {};
  const std::string urn = kUuidUrnPrefix + uuid;
  return WriteSettingString(kPrinterUuidValue, urn) ? urn : std::string();
}

bool ReadShareWithAllPhones() {
  const auto key = CreateProgramKey(RegistryAccess::Read);
  if (!key) return true;
  std::array<unsigned char, 4> buffer{};
  uint32_t size = buffer.size();
  if (key->QueryValue(kShareWithAllPhonesValue, buffer.data(), &size) != RegistryStatus::Success || size != 4) {
    return true;
  }
  return FromLittleEndian(buffer) != 0;
}

bool WriteShareWithAllPhones(bool on) {
  const auto key = CreateProgramKey(RegistryAccess::Write);
  if (!key) return false;
  const auto bytes = ToLittleEndian<4>(on ? 1 : 0);
  const bool stored = key->SetValue(kShareWithAllPhonesValue, RegistryType::Dword, bytes.data(), bytes.size()) ==
                      RegistryStatus::Success;
  key->Flush();
  return stored;
}
