// Addresses of the relay's requests on the vendor's API server. Callable from any thread.
#pragma once

#include <string>

// The API server's base followed by kRelayApiPrefix and `path`.
std::string RelayUrl(const std::string& path);
