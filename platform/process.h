// Starting outside programs. The arguments go to the program as they are (no shell ever
// reads them); the caller never waits, and every child is reaped when it ends.
// Callable from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Full path of `name` in a folder of PATH; empty when it is not there.
std::string FindProgramOnPath(const std::string& name);

// Starts argv[0] (looked up on PATH) with the rest of `argv` as its arguments, stdin and
// stdout/stderr on /dev/null and no inherited descriptors. Returns 0, or the errno
// value when it could not be started. `onExit`, when given, runs on a background thread
// with the child's exit code (-1 when a signal ended it) after the child ended.
int StartDetachedProcess(const std::vector<std::string>& argv,
                         std::function<void(int exitCode)> onExit = {});
