// Where the running program lives.
#pragma once

#include <string>

// Full path of the running executable; empty when the system cannot tell.
std::string GetExecutablePath();

// The folder holding the running executable, ending in '/'; empty when unknown.
std::string GetExecutableFolder();

// The running executable as the program word of a start-up command line: on Windows the
// path in double quotes, so that a path with spaces cannot be read as a shorter program;
// elsewhere the path as it is. Empty when unknown.
std::string GetExecutableCommandWord();
