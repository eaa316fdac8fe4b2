// The machine's network identity: its IPv4 interface addresses and its host name.
// Stateless; callable from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One IPv4 address of a network interface.
struct InterfaceAddress {
  std::string address;  // dotted decimal; empty when the system's value cannot be converted
  bool up = false;      // the interface is administratively up
  bool running = false; // the interface has a working link
};

// Every IPv4 address of every interface, in the system's order; nullopt when the
// system cannot list them.
std::optional<std::vector<InterfaceAddress>> ListIPv4InterfaceAddresses();

// The system's host name; empty when the system cannot supply one.
std::string GetSystemHostName();
