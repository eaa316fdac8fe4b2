// The pairings olvaro-send keeps, one per relay: "URL TOKEN" lines in
// $XDG_CONFIG_HOME/olvaro-send/pairings, readable by the user only. The URL is the relay's
// normal form (sender/relayaddress.h). Replaced as a whole, by one writer at a time.
#pragma once

#include <string>

// True for a token as the relay makes them: lower-case hexadecimal digits, 32 to 128.
bool IsRelayToken(const std::string& token);

// Where the pairings are kept.
std::string PairingsPath();

// The token kept for `relay` (a normal URL); empty when there is none. Lines that are not
// one normal URL and one token, as a tampered file may hold, are passed over.
std::string StoredToken(const std::string& relay);

// Keeps `token` for `relay`, replacing the relay's earlier pairing; false when the file
// cannot be written or `token` is not a relay's token.
bool StorePairing(const std::string& relay, const std::string& token);
