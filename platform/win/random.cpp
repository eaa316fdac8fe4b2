#include "platform/random.h"

#include <climits>
#include <windows.h>
#include <bcrypt.h>

bool FillRandomBytes(void* buffer, size_t size) {
  return size <= ULONG_MAX && BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer),
                                                             static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
