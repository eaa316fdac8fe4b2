// Values of XDG desktop entry files (Linux implementations only). Pure; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A text as a desktop entry's string value: backslashes and line breaks escaped.
std::string EscapeDesktopEntryString(std::string_view text);

// The value of an Exec key that runs `arguments` (the program first): each argument
// quoted when it holds a reserved character, '%' doubled, then escaped as a string.
std::string MakeExecValue(const std::vector<std::string>& arguments);
