// The sender's web page, compiled into the program from relay/web/ at build time.
#pragma once

#include <cstddef>

struct WebFile {
  const char* path;  // "/index.html", "/app.js", ...
  const char* type;
  const unsigned char* data;
  size_t size;
};

extern const WebFile kWebFiles[];
extern const size_t kWebFileCount;
