// UTF-8 inside the program, UTF-16 at the Win32 "W" calls.
#pragma once

#include <string>
#include <string_view>

// Invalid UTF-8 sequences become U+FFFD.
std::wstring ToWide(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view text);
// A path with '\' as its separators, as the calls that take paths literally want it.
std::wstring ToWidePath(std::string_view path);
// A path from the system with '/' as its separators, as the program joins paths.
std::string FromWidePath(std::wstring_view path);
