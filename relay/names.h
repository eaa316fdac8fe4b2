// Checks and reductions of the texts the relay receives. Pure functions, any thread.
#pragma once

#include <string>

// An identity the relay serves: 36 letters, digits and hyphens.
bool IsValidIdentity(const std::string& uuid);
// A document name reduced to a safe file name: the last path component, printable ASCII
// without separators, tabs or shell-special characters, at most 120 bytes with its
// extension kept; "document" when nothing is left.
std::string SafeDocumentName(const std::string& name);
