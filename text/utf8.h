// UTF-8 texts: checking them and shortening them without splitting a character.
// Stateless; callable from any thread.
#pragma once

#include <string>

// The longest start of `text` that has at most `maxBytes` bytes and does not end inside
// a multi-byte character.
std::string CutUtf8(const std::string& text, std::string::size_type maxBytes);

// True when `text` is well-formed UTF-8: no stray or missing continuation bytes, no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text);

// `text` with every byte that does not belong to a well-formed character replaced by
// U+FFFD, so that it can be stored and shown as UTF-8.
std::string RepairUtf8(const std::string& text);
