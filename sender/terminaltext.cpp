#include "sender/terminaltext.h"

#include "text/utf8.h"

std::string TerminalSafe(const std::string& text) {
  std::string safe;
  for (size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
    const std::string character = text.substr(at, length);
    const bool control = lead < 0x20 || lead == 0x7f || (lead == 0xc2 && character.size() == 2 &&
                                                         static_cast<unsigned char>(character[1]) < 0xa0);
    if (!IsValidUtf8(character)) {
      safe += '?';
      ++at;  // a broken sequence costs one byte, and what follows is read afresh
      continue;
    }
    safe += control ? "?" : character;
    at += length;
  }
  return safe;
}
