// The regedit text format ("Windows Registry Editor Version 5.00"): reading what regedit
// or a person writes, and writing it back. Pure functions, callable from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

struct RegistryValue {
  std::string name;  // "" is the key's default value ("@")
  RegistryType type;
  std::string data;  // the raw bytes; a string holds its terminating zero
};

struct RegistrySection {
  std::string key;  // the full key path as written between the brackets
  std::vector<RegistryValue> values;
};

using RegistryDocument = std::vector<RegistrySection>;

// Null when the text is not in the format. A value deleted with "=-" is left out, and
// a key that appears twice is merged into one section.
std::optional<RegistryDocument> ParseRegFile(std::string_view text);
std::string FormatRegFile(const RegistryDocument& document);

// Lookups ignore ASCII case, as the registry does; the Find functions give null when absent.
RegistrySection* FindRegistrySection(RegistryDocument& document, std::string_view key);
RegistrySection& FindOrAddRegistrySection(RegistryDocument& document, std::string_view key);
const RegistryValue* FindRegistryValue(const RegistrySection& section, std::string_view name);
// Replaces the value's type and data, or adds the value at the end.
void PutRegistryValue(RegistrySection& section, RegistryValue value);
// False when there was no such value.
bool RemoveRegistryValue(RegistrySection& section, std::string_view name);
