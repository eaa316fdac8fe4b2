// The current user's temporary folder.
// Stateless; callable from any thread (reads the environment, which nobody changes at run time).
#pragma once

#include <string>

// The absolute path of the user's temporary folder, ending in '/'.
std::string GetUserTempFolder();
