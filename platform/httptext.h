// The texts of HTTP requests and answers that every HTTP client here builds or reads
// alike. Pure functions; callable from any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

// The charset parameter of a Content-Type value, lower case; empty when none is given.
std::string CharsetOf(const std::string& contentType);

// The body of a form post: the "name=value" lines form-encoded (blanks become '+') and
// joined with '&'.
std::string FormBody(const std::vector<std::string>& form);

// True when `url` is an https URL, whatever the case of its scheme.
bool IsHttpsUrl(const std::string& url);

// Adds the field of one received header line ("Name: value", line end included or not)
// to `headers`, the name lowered and the value trimmed; a status line starts them afresh.
void AddHeaderField(std::vector<std::pair<std::string, std::string>>& headers, const std::string& line);
