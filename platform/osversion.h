// The running operating system's own description of itself.
// Stateless; callable from any thread.
#pragma once

#include <string>

// The distribution's or system's name and version (for example "Debian GNU/Linux 12
// (bookworm)"), single-line, not yet cut to any length; never empty.
std::string DescribeOperatingSystem();
