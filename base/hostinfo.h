// Host information: the PC's IPv4 addresses, its OS description and its host name.
// Stateless; callable from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/windowsversion.h"  // FormatWindowsVersion, the Windows system's own text

// At most five dotted-decimal addresses of interfaces that are up and running, in the
// system's order, "127.0.0.1" left out. Empty when there is none or the query fails.
std::vector<std::string> GetLocalIPv4Addresses();

// A short text naming the operating system, at most 39 characters.
std::string GetOsVersionString();

// The host name (at most 1023 characters); empty when the system cannot supply one.
std::string GetLocalHostName();
