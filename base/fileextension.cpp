#include "base/fileextension.h"

std::string::size_type GetFileExtension(const std::string& text) { return text.rfind('.'); }
