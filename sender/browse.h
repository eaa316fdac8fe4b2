// Finds the PCs that announce the print service on the local network (DNS-SD through
// avahi-daemon). Blocks the calling thread for the browse.
#pragma once

#include <string>
#include <vector>

struct FoundPc {
  std::string name;     // the service's instance name
  std::string address;  // numeric, IPv4 preferred
  int port = 0;
};

// Every kServiceType service resolved within `milliseconds`, sorted by name;
// false with `error` set when avahi-daemon cannot be reached.
bool BrowsePcs(int milliseconds, std::vector<FoundPc>& found, std::string& error);
