// Cloud identity and auth code, obtained from the vendor's API server. Stateless free
// functions; callable from any thread, each request blocks the calling thread.
#pragma once

#include <string>

// The stored identity when it is 36 characters long, otherwise a fresh one from the
// server (also "0" or an odd answer), stored before it is returned. Concurrent callers
// that find no valid identity share one request.
std::string GetCloudUuid();

// The server's answer to generate-uuid, unchanged, or "0" when the request fails.
std::string RequestCloudUuid();

// A six-character auth code for `uuid`, or "" when the request fails or the code is odd.
std::string RequestAuthCode(const std::string& uuid);
