// Secrets and identities from the system's random source; without one the relay stops
// rather than hand out guessable ones. Any thread.
#pragma once

#include <string>

// `bytes` random bytes as lower-case hexadecimal (32 bytes give 64 characters).
std::string RandomHex(size_t bytes);
// A random (version 4) UUID: 36 characters, 122 random bits.
std::string RandomUuid();
// Six characters from an alphabet without look-alikes (no 0/O, 1/I/L).
std::string RandomAuthCode();
