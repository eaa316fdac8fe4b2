// Host information pieces shared between hostinfo.cpp and its tests.
#pragma once

#include <string>
#include <vector>

#include "platform/network.h"

// The addresses the PC shows and sends: from interfaces that are up and running, in the
// given order, "127.0.0.1" and unconvertible ones left out, at most five.
std::vector<std::string> SelectIPv4Addresses(const std::vector<InterfaceAddress>& interfaces);
