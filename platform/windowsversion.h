// The short name of a Windows version, from the fields of its version record.
// Pure; callable from any thread.
#pragma once

#include <string>

// The text the Windows version record maps to ("Windows 7", "Windows 6.2", ...);
// `queryOk` false stands for a failed query.
std::string FormatWindowsVersion(bool queryOk, unsigned major, unsigned minor, unsigned productType);
