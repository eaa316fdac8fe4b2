// The local HTTPS test relay for the Windows tests, which cannot run it themselves under
// Wine: prints "<port> <authority file>" and serves until its standard input closes.
#include <cstdio>
#include <iostream>
#include <string>

#include "tests/support/httpsrelay.h"

namespace {

RelayResponse Answer(const RelayRequest& request) {
  RelayResponse response;
  const std::string& target = request.target;
  if (target == "/latin1") {
    response.headers = {{"Content-Type", "text/plain; charset=ISO-8859-1"}};
    response.body = "caf\xE9";
  } else if (target.starts_with("/redirect/")) {
    const int left = std::stoi(target.substr(10));
    response.status = left > 0 ? 302 : 200;
    if (left > 0) response.headers = {{"Location", "/redirect/" + std::to_string(left - 1)}};
    response.body = left > 0 ? "" : "arrived";
  } else if (target == "/missing") {
    response.status = 404;
  } else if (target == "/silent") {
    response.contentLength = 1;
    response.stream = [](RelayStream& stream) {
      if (stream.Pause(3000)) stream.Send("x", 1);
    };
  } else if (target == "/big") {
    response.body = std::string(3 << 20, 'b');
  } else {
    // Everything else echoes what arrived.
    response.body = request.method + " " + target + "\nhost: " + request.Header("host") + "\nuser-agent: " +
                    request.Header("user-agent") + "\ncontent-type: " + request.Header("content-type") + "\n" +
                    request.body;
  }
  return response;
}

}  // namespace

int main() {
  TestRelayServer server(Answer);
  std::printf("%d %s\n", server.Port(), TestCertificateAuthority::Get().caFile.c_str());
  std::fflush(stdout);
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
