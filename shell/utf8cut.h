// Shortening UTF-8 texts to a byte limit without splitting a character.
// Stateless; callable from any thread.
#pragma once

#include <string>

// The longest start of `text` that has at most `maxBytes` bytes and does not end inside
// a multi-byte character.
std::string CutUtf8(const std::string& text, std::string::size_type maxBytes);
