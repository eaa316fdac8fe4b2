// The program's log: one line per event with its reason (a document received, printed or
// not and why, a cloud job fetched, the relay unreachable, the spool folder refused).
// Lines go to olvaro-desktop.log in the user's state folder, which is kept small by
// rotation, and also to the standard error stream when the program runs without a
// desktop. Callable from any thread; lines are never interleaved.
#pragma once

#include <cstdint>
#include <string>

// Appends one line, "YYYY-MM-DD hh:mm:ss " (local time) and `message`. Line breaks and
// other control characters in `message` become spaces, so one event is one line.
void LogEvent(const std::string& message);

// Whether lines also go to the standard error stream (off at start).
void SetEventLogEcho(bool echo);

// A local-time FILETIME as "YYYY-MM-DD hh:mm:ss".
std::string FormatLocalTime(uint64_t fileTime);

// The log file's path; "" when the user has no state folder.
std::string EventLogPath();
