// ASCII letter case, as protocols and the registry compare names: only 'A' to 'Z' and
// 'a' to 'z' fold, every other byte (UTF-8 included) stays as it is. Stateless.
#pragma once

#include <string>
#include <string_view>

// `c` with 'A' to 'Z' lowered.
char LowerAscii(char c);

// `text` with 'A' to 'Z' lowered.
std::string LowerAscii(std::string text);

// True when `a` and `b` are equal but for ASCII letter case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
