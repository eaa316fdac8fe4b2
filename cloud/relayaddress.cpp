#include "cloud/relayaddress.h"

#include "platform/vendorservers.h"
#include "wire/protocol.h"

std::string RelayUrl(const std::string& path) { return GetApiServerBase() + kRelayApiPrefix + path; }
