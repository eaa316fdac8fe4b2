// The system's cryptographic random source. Callable from any thread.
#pragma once

#include <cstddef>
#include <string>

// Fills `buffer` with `size` random bytes; false when the system gives none.
bool FillRandomBytes(void* buffer, size_t size);

// A random (version 4) UUID in its 36-character text form, lower case; "" when the system
// gives no random bytes.
std::string MakeRandomUuid();
