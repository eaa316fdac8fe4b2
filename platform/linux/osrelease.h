// Reading the distribution's name from an os-release file (Linux only; shared with tests).
#pragma once

#include <string>

// The value of the last PRETTY_NAME assignment in os-release `content`, unquoted and
// unescaped as a shell would, control characters turned into spaces; empty when absent.
std::string ParseOsReleasePrettyName(const std::string& content);

// "Linux major.minor" from a kernel release text such as "6.1.0-18-amd64"; "Linux"
// when the text does not start with two numbers.
std::string FormatKernelRelease(const std::string& release);
