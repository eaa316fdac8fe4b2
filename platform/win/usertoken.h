// Who this process runs as.
#pragma once

#include <windows.h>

// True when `owner` is this process's user, or the owner it gives the objects it creates
// (for an elevated administrator, the Administrators group).
bool IsCurrentUserOrAdministrators(PSID owner);
