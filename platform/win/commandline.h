// Command lines as Windows programs split them (the C runtime's rules).
#pragma once

#include <string>
#include <vector>

// One argument quoted so that the program receives it unchanged: spaces, tabs and quotes
// are enclosed in "...", backslashes before a quote are doubled.
std::wstring QuoteArgument(const std::wstring& argument);

// The whole command line for `argv`, each argument quoted as needed.
std::wstring BuildCommandLine(const std::vector<std::string>& argv);
