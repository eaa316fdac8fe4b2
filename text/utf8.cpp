#include "text/utf8.h"

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// What the first byte of a UTF-8 sequence announces; length 0 for a byte that cannot
// start one.
struct SequenceStart {
  size_t length;
  char32_t bits;    // the code point bits the first byte carries
  char32_t lowest;  // the smallest code point that needs this length
};

SequenceStart ReadSequenceStart(unsigned char lead) {
  if (lead < 0x80) {
    return {1, lead, 0};
  }
  if ((lead & 0xE0) == 0xC0) {
    return {2, lead & 0x1Fu, 0x80};
  }
  if ((lead & 0xF0) == 0xE0) {
    return {3, lead & 0x0Fu, 0x800};
  }
  if ((lead & 0xF8) == 0xF0) {
    return {4, lead & 0x07u, 0x10000};
  }
  return {0, 0, 0};
}

// The length of the well-formed character at `i`; 0 when the bytes there do not form one.
size_t CharacterLength(const std::string& text, size_t i) {
  const SequenceStart start = ReadSequenceStart(static_cast<unsigned char>(text[i]));
  if (start.length == 0 || text.size() - i < start.length) return 0;
  char32_t code = start.bits;
  for (size_t k = 1; k < start.length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < start.lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return start.length;
}

}  // namespace

std::string CutUtf8(const std::string& text, std::string::size_type maxBytes) {
  if (text.size() <= maxBytes) return text;
  // The cut falls before the byte at `end`; move it back until that byte starts a character.
  std::string::size_type end = maxBytes;
  while (end > 0 && IsContinuationByte(text[end])) --end;
  return text.substr(0, end);
}

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0, length = 0; i < text.size(); i += length) {
    length = CharacterLength(text, i);
    if (length == 0) return false;
  }
  return true;
}

std::string RepairUtf8(const std::string& text) {
  std::string repaired;
  for (size_t i = 0; i < text.size();) {
    const size_t length = CharacterLength(text, i);
    repaired += length == 0 ? std::string("\xEF\xBF\xBD") : text.substr(i, length);
    i += length == 0 ? 1 : length;
  }
  return repaired;
}
