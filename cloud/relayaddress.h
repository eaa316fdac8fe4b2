// Addresses of the relay's requests on the vendor's API server. Callable from any thread.
#pragma once

#include <string>

// The API server's base followed by "/api/olvarocloud/" and `path`.
std::string RelayUrl(const std::string& path);
