// Base addresses of the vendor's servers: the environment variables OLVARO_API_URL and
// OLVARO_UPDATE_URL when set, else the built-in addresses. Callable from any thread.
#pragma once

#include <string>

// The API server, for example "https://api.olvaro.app" (no trailing '/').
std::string GetApiServerBase();

// The update server, for example "http://update.olvaro.app" (no trailing '/').
std::string GetUpdateServerBase();

// The host part of a base address, with its port when one is given: "127.0.0.1:8080".
std::string GetServerHost(const std::string& base);
