// The current user's folders for temporary files and for the program's state.
// Stateless; callable from any thread (reads the environment, which nobody changes at run time).
#pragma once

#include <string>

// The absolute path of the user's temporary folder, ending in '/': $TMPDIR, else the user's
// cache folder on disk ($XDG_CACHE_HOME, default ~/.cache, created when missing), else /tmp/.
std::string GetUserTempFolder();

// The folder where programs keep state such as logs ($XDG_STATE_HOME, default
// ~/.local/state, created when missing), ending in '/'; empty when there is none.
std::string GetUserStateFolder();
