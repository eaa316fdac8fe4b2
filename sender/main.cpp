// olvaro-send: print a document on a PC running Olvaro Desktop, through a relay
// (--relay URL) or on the local network.
#include <charconv>
#include <cstdio>
#include <cstring>

#include "sender/sender.h"

namespace {

constexpr char kUsageText[] =
    "usage: olvaro-send [--relay URL [--code CODE]] [--to NAME] [--copies N] [--force] FILE\n"
    "       olvaro-send --list\n";

bool ParseArguments(int argc, char** argv, SendRequest& request) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--list") request.list = true;
    else if (argument == "--force") request.force = true;
    else if (argument == "--relay" && hasValue) request.relay = argv[++i];
    else if (argument == "--code" && hasValue) request.code = argv[++i];
    else if (argument == "--to" && hasValue) request.to = argv[++i];
    else if (argument == "--copies" && hasValue) {
      const char* value = argv[++i];
      const auto [end, error] = std::from_chars(value, value + std::strlen(value), request.copies);
      if (error != std::errc() || *end || request.copies < 1 || request.copies > 99) return false;
    } else if (!argument.starts_with("--") && request.file.empty()) request.file = argument;
    else return false;
  }
  return request.list != !request.file.empty() && (request.relay.empty() || !request.list) &&
         (request.code.empty() || !request.relay.empty());
}

}  // namespace

int main(int argc, char** argv) {
  SendRequest request;
  if (!ParseArguments(argc, argv, request)) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  return request.relay.empty() ? SendOnNetwork(request) : SendThroughRelay(request);
}
