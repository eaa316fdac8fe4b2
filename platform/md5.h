// The MD5 digest, which HTTP Digest authentication is built on. Callable from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The 16 bytes of the MD5 digest of `text`; nullopt when the system cannot compute it.
std::optional<std::array<uint8_t, 16>> Md5Digest(std::string_view text);

// The MD5 digest of `text` as 32 lower-case hexadecimal digits; empty when the system
// cannot compute it.
std::string Md5Hex(std::string_view text);
