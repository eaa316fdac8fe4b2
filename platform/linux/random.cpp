#include "platform/random.h"

#include <cerrno>
#include <sys/random.h>

bool FillRandomBytes(void* buffer, size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got = getrandom(bytes + filled, size - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    filled += static_cast<size_t>(got);
  }
  return true;
}
