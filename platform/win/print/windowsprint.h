// What the Windows print methods (print/printer.h, here in platform/win/print/) share:
// how they find a program registered as a COM local server, and the empty-file check
// each makes first. Callable from any thread, several at once.
#pragma once

#include <string>

// The executable of the COM local server registered machine-wide for `progId`, with the
// start-up switch (from the last '/') cut off; empty when it is not registered.
std::string FindLocalServerPath(const std::string& progId);

// True when the file exists and holds nothing: such a file prints nothing, whatever its
// kind.
bool IsEmptyFile(const std::string& path);
