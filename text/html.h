// Text put into an HTML page. Stateless.
#pragma once

#include <string>
#include <string_view>

// `text` with &, <, > and " written as character references, fit for an element's text
// and a quoted attribute value.
std::string EscapeHtml(std::string_view text);
