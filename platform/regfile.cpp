#include "platform/regfile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "text/ascii.h"

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Bytes per line of hex data, as regedit wraps them near 80 columns.
constexpr size_t kHexBytesPerLine = 25;

auto NameIs(std::string_view name) {
  return [name](const RegistryValue& value) { return EqualsIgnoringAsciiCase(value.name, name); };
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One to `maxDigits` hex digits and nothing else.
std::optional<uint32_t> ParseHexNumber(std::string_view digits, size_t maxDigits) {
  if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
  uint32_t number = 0;
  for (const char c : digits) {
    const int value = HexDigitValue(c);
    if (value < 0) return std::nullopt;
    number = number * 16 + static_cast<uint32_t>(value);
  }
  return number;
}

// "01,02, ff": bytes of one or two hex digits, separated by commas; may be empty.
std::optional<std::string> ParseHexBytes(std::string_view list) {
  std::string bytes;
  list = Trim(list);
  while (!list.empty()) {
    const auto comma = list.find(',');
    const auto item = ParseHexNumber(Trim(list.substr(0, comma)), 2);
    if (!item) return std::nullopt;
    bytes.push_back(static_cast<char>(*item));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
    // regedit leaves a comma before each line break it puts into long data.
    if (Trim(list).empty()) break;
  }
  return bytes;
}

// Reads the quoted text at the start of `rest` and moves `rest` past its closing quote.
// Only \\ and \" are escapes; any other backslash stands for itself, as people type paths.
std::optional<std::string> ReadQuoted(std::string_view& rest) {
  if (rest.empty() || rest.front() != '"') return std::nullopt;
  std::string text;
  for (size_t i = 1; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '"') {
      rest.remove_prefix(i + 1);
      return text;
    }
    if (c == '\\' && i + 1 < rest.size() && (rest[i + 1] == '\\' || rest[i + 1] == '"')) ++i;
    text.push_back(rest[i]);
  }
  return std::nullopt;
}

std::string LittleEndianBytes(uint32_t number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return bytes;
}

// The data after '=': a quoted text, dword:, hex: or hex(type):.
std::optional<RegistryValue> ParseData(std::string_view text) {
  if (!text.empty() && text.front() == '"') {
    auto string = ReadQuoted(text);
    if (!string || !Trim(text).empty()) return std::nullopt;
    string->push_back('\0');
    return RegistryValue{{}, RegistryType::String, std::move(*string)};
  }
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view form = Trim(text.substr(0, colon));
  const std::string_view body = text.substr(colon + 1);
  if (EqualsIgnoringAsciiCase(form, "dword")) {
    const auto number = ParseHexNumber(Trim(body), 8);
    if (!number) return std::nullopt;
    return RegistryValue{{}, RegistryType::Dword, LittleEndianBytes(*number)};
  }
  RegistryType type = RegistryType::Binary;
  if (!EqualsIgnoringAsciiCase(form, "hex")) {
    if (form.size() < 6 || !EqualsIgnoringAsciiCase(form.substr(0, 4), "hex(") || form.back() != ')') {
      return std::nullopt;
    }
    const auto number = ParseHexNumber(form.substr(4, form.size() - 5), 8);
    if (!number) return std::nullopt;
    type = static_cast<RegistryType>(*number);
  }
  auto bytes = ParseHexBytes(body);
  if (!bytes) return std::nullopt;
  return RegistryValue{{}, type, std::move(*bytes)};
}

// Applies one value line ("name"=data, @=data, "name"=-) to `section`.
bool ApplyValueLine(std::string_view line, RegistrySection& section) {
  std::string name;
  if (line.front() == '@') {
    line.remove_prefix(1);
  } else {
    auto quoted = ReadQuoted(line);
    if (!quoted) return false;
    name = std::move(*quoted);
  }
  line = Trim(line);
  if (line.empty() || line.front() != '=') return false;
  line = Trim(line.substr(1));
  if (line == "-") {
    RemoveRegistryValue(section, name);
    return true;
  }
  auto value = ParseData(line);
  if (!value) return false;
  value->name = std::move(name);
  PutRegistryValue(section, std::move(*value));
  return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool IsPlainText(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  return std::none_of(data.begin(), data.end() - 1, [](char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != '\t';
  });
}

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

std::string HexBytes(const std::string& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) text += (i % kHexBytesPerLine == 0) ? ",\\\n  " : ",";
    const auto byte = static_cast<unsigned char>(data[i]);
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

std::string FormatData(const RegistryValue& value) {
  if (value.type == RegistryType::String && IsPlainText(value.data)) {
    return Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
  }
  if (value.type == RegistryType::Dword && value.data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.data[i]);
    char text[16];
    snprintf(text, sizeof text, "dword:%08x", number);
    return text;
  }
  if (value.type == RegistryType::Binary) return "hex:" + HexBytes(value.data);
  char form[24];
  snprintf(form, sizeof form, "hex(%x):", static_cast<uint32_t>(value.type));
  return form + HexBytes(value.data);
}

}  // namespace

std::optional<RegistryDocument> ParseRegFile(std::string_view text) {
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  const std::vector<std::string_view> lines = SplitLines(text);

  RegistryDocument document;
  bool headerSeen = false;
  RegistrySection* section = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (!headerSeen) {
      if (line != kHeader && line != kOldHeader) return std::nullopt;
      headerSeen = true;
    } else if (line.front() == '[') {
      if (line.size() < 3 || line.back() != ']') return std::nullopt;
      section = &FindOrAddRegistrySection(document, line.substr(1, line.size() - 2));
    } else if (line.front() == '"' || line.front() == '@') {
      if (!section) return std::nullopt;
      // Long data goes on over several lines, each but the last ending in a backslash.
      std::string joined(line);
      while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
        joined.pop_back();
        joined += Trim(lines[++i]);
      }
      if (!ApplyValueLine(joined, *section)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!headerSeen) return std::nullopt;
  return document;
}

std::string FormatRegFile(const RegistryDocument& document) {
  std::string text(kHeader);
  text += "\n";
  for (const RegistrySection& section : document) {
    text += "\n[" + section.key + "]\n";
    for (const RegistryValue& value : section.values) {
      text += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" + FormatData(value) + "\n";
    }
  }
  return text;
}

RegistrySection* FindRegistrySection(RegistryDocument& document, std::string_view key) {
  const auto found = std::ranges::find_if(document, [&](const RegistrySection& s) {
    return EqualsIgnoringAsciiCase(s.key, key);
  });
  return found == document.end() ? nullptr : &*found;
}

RegistrySection& FindOrAddRegistrySection(RegistryDocument& document, std::string_view key) {
  if (RegistrySection* section = FindRegistrySection(document, key)) return *section;
  return document.emplace_back(RegistrySection{std::string(key), {}});
}

const RegistryValue* FindRegistryValue(const RegistrySection& section, std::string_view name) {
  const auto found = std::ranges::find_if(section.values, NameIs(name));
  return found == section.values.end() ? nullptr : &*found;
}

void PutRegistryValue(RegistrySection& section, RegistryValue value) {
  const auto found = std::ranges::find_if(section.values, NameIs(value.name));
  if (found == section.values.end()) {
    section.values.push_back(std::move(value));
  } else {
    found->type = value.type;
    found->data = std::move(value.data);
  }
}

bool RemoveRegistryValue(RegistrySection& section, std::string_view name) {
  return std::erase_if(section.values, NameIs(name)) > 0;
}
