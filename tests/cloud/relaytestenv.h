// Per-test surroundings for the cloud tests: fresh per-user folders, the throw-away
// authority trusted through CURL_CA_BUNDLE, and no proxy between client and relay.
#pragma once

#include <cstdlib>
#include <string>

#include "tests/support/httpsrelay.h"
#include "tests/support/testenv.h"

class RelayTestEnvironment : public TestEnvironment {
public:
  RelayTestEnvironment() {
    setenv("CURL_CA_BUNDLE", TestCertificateAuthority::Get().caFile.c_str(), 1);
    for (const char* proxy : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
      unsetenv(proxy);
    }
    unsetenv("OLVARO_API_URL");
  }
  // Points the product at `base` as its API server.
  void UseApiServer(const std::string& base) { setenv("OLVARO_API_URL", base.c_str(), 1); }
};

// An answer without a length whose body goes on until the client hangs up.
inline RelayResponse EndlessBody() {
  RelayResponse response;
  response.stream = [](RelayStream& stream) {
    const std::string block(64 * 1024, 'e');
    while (stream.Send(block.data(), block.size())) {
    }
  };
  return response;
}

// An answer that sends its head and then nothing more for 20 s.
inline RelayResponse SilentAnswer() {
  RelayResponse response;
  response.stream = [](RelayStream& stream) { stream.Pause(20000); };
  return response;
}
