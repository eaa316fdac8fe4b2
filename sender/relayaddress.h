// The relay's base URL as the pairings are keyed by, and the rule that keeps tokens off
// clear text beyond this machine. Stateless.
#pragma once

#include <string>

// `url` in its one normal form: scheme and host in lower case, a default port dropped,
// no trailing slash. False with `error` set for anything but https, or http to this
// machine (localhost, 127.0.0.0/8, [::1]), and for URLs with credentials, a query, a
// fragment, blanks or control characters.
bool NormaliseRelayUrl(const std::string& url, std::string& normal, std::string& error);
