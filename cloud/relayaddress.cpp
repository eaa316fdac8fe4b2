#include "cloud/relayaddress.h"

#include "platform/vendorservers.h"

std::string RelayUrl(const std::string& path) { return GetApiServerBase() + "/api/olvarocloud/" + path; }
