// olvaro-send: print a document on a PC running Olvaro Desktop, through a relay
// (--relay URL) or on the local network.
#include <charconv>
#include <cstdio>
#include <cstring>

#include "sender/sender.h"

namespace {

constexpr char kUsageText[] =
    "usage: olvaro-send [--relay URL [--code CODE]] [--to NAME] [--copies N] [--force] [--timeout SECONDS] FILE\n"
    "       olvaro-send [--timeout SECONDS] --list\n";

// A whole number from `text` within [low, high].
bool ParseNumber(const char* text, int low, int high, int& number) {
  const auto [end, error] = std::from_chars(text, text + std::strlen(text), number);
  return error == std::errc() && !*end && number >= low && number <= high;
}

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
      if (!ParseNumber(argv[++i], 1, 99, request.copies)) return false;
    } else if (argument == "--timeout" && hasValue) {
      if (!ParseNumber(argv[++i], 1, 3600, request.timeoutSeconds)) return false;
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
