#include "ippprinter/printericon.h"

#include <cstdint>

namespace {

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
constexpr size_t kIconHeaderBytes = 6;
constexpr size_t kIconEntryBytes = 16;

uint32_t LittleEndian(std::string_view bytes, size_t at, size_t count) {
  uint32_t value = 0;
  for (size_t i = count; i-- > 0;) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

}  // namespace

std::string_view LargestPngInIcon(std::string_view icon) {
  if (icon.size() < kIconHeaderBytes || LittleEndian(icon, 2, 2) != 1) return {};
  const size_t count = LittleEndian(icon, 4, 2);
  std::string_view largest;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = kIconHeaderBytes + i * kIconEntryBytes;
    if (entry + kIconEntryBytes > icon.size()) break;
    const size_t size = LittleEndian(icon, entry + 8, 4);
    const size_t offset = LittleEndian(icon, entry + 12, 4);
    if (offset > icon.size() || size > icon.size() - offset) continue;
    const std::string_view picture = icon.substr(offset, size);
    if (picture.starts_with(kPngSignature) && picture.size() > largest.size()) largest = picture;
  }
  return largest;
}

std::string_view PrinterIconPng() { return LargestPngInIcon(ProgramIconFile()); }
