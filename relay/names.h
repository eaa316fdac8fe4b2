// Checks and reductions of the texts the relay receives. Pure functions, any thread.
#pragma once

#include <string>

// An identity the relay serves: 36 letters, digits and hyphens.
bool IsValidIdentity(const std::string& uuid);
// A document name reduced to a safe file name: the last path component, printable ASCII
// without separators, tabs or shell-special characters, at most 120 bytes with its
// extension kept; "document" when nothing is left.
std::string SafeDocumentName(const std::string& name);

// Where a pairing attempt comes from, as wrong codes are counted: the client's address
// and its network (the /24 of an IPv4 address, the /64 of an IPv6 one, which one
// household or one server is usually given). A text that is no address stands for all.
struct ClientSource {
  std::string address;
  std::string network;
  std::string subscriber;  // what one subscriber holds whole: the IPv4 address, an IPv6 /64
};
ClientSource SourceOf(const std::string& address);
