// Names that came from the network (DNS-SD, a PC's answers, a relay), made safe to print.
#pragma once

#include <string>

// `text` with every control character (C0, DEL, C1 as bytes or as UTF-8 U+0080 to U+009F,
// tab and line ends included) and every byte that is not part of well-formed UTF-8
// replaced by '?', so that no escape sequence reaches the terminal.
std::string TerminalSafe(const std::string& text);
