#include "shell/utf8cut.h"

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string CutUtf8(const std::string& text, std::string::size_type maxBytes) {
  if (text.size() <= maxBytes) return text;
  // The cut falls before the byte at `end`; move it back until that byte starts a character.
  std::string::size_type end = maxBytes;
  while (end > 0 && IsContinuationByte(text[end])) --end;
  return text.substr(0, end);
}
