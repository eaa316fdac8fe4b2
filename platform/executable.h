// Where the running program lives.
#pragma once

#include <string>

// Full path of the running executable; empty when the system cannot tell.
std::string GetExecutablePath();

// The folder holding the running executable, ending in '/'; empty when unknown.
std::string GetExecutableFolder();
