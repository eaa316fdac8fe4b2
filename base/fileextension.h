// File name helpers shared by the spool naming and the print dispatcher.
#pragma once

#include <string>

// Position of the last '.' in the whole text (path separators do not stop the search),
// or std::string::npos when there is none. The extension runs from there to the end.
std::string::size_type GetFileExtension(const std::string& text);
