// Reading the phone's description of an upload from the "/print" request headers.
// Stateless; callable from any thread.
#pragma once

#include <string>

// The copy count from "X-Copies" (nullptr when absent): read as by atol, and 1 when
// absent or outside 1..99.
int ReadCopies(const char* value);

// The document name from "X-FileName" (nullptr when absent): "file" when absent, empty
// when the bytes are not valid UTF-8.
std::string ReadUploadName(const char* value);
