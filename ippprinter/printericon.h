// The picture printer-icons points at: the program's icon, as PNG. Stateless.
#pragma once

#include <string_view>

// The program's Windows icon file, as built in.
std::string_view ProgramIconFile();

// The largest PNG picture inside a Windows icon file; empty when it holds none.
std::string_view LargestPngInIcon(std::string_view icon);

// LargestPngInIcon(ProgramIconFile()).
std::string_view PrinterIconPng();
