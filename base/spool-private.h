// Spool pieces shared between spool.cpp and its tests.
#pragma once

#include <cstdint>

// CleanSpoolFolder with the reference time given as a local FILETIME.
void CleanSpoolFolderAt(uint64_t referenceTime);
