// Reading the description of an upload from the request: its headers and its sender.
// Stateless; callable from any thread.
#pragma once

#include <cstdint>
#include <string>

// The copy count from "X-Copies" (nullptr when absent): read as by atol, and 1 when
// absent or outside 1..99.
int ReadCopies(const char* value);

// The document name from "X-FileName" (nullptr when absent): "file" when absent, empty
// when the bytes are not valid UTF-8.
std::string ReadUploadName(const char* value);

// The announced body length from "Content-Length" (nullptr when absent); -1 when missing
// or not a whole number.
int64_t AnnouncedLength(const char* value);

// An IPv4 address in host byte order as dotted decimal.
std::string DottedAddress(uint32_t ip);
