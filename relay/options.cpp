#include "relay/server.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

bool ParseNumber(const char* text, long long& value) {
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value);
  return error == std::errc() && stop == end && value > 0;
}

bool IsLoopback(const std::string& listen) {
  return listen.starts_with("127.") || listen.starts_with("[::1]:") || listen.starts_with("localhost:");
}

}  // namespace

bool ParseRelayOptions(int argc, char** argv, RelayOptions& options, std::string& error) {
  struct NumberOption {
    const char* name;
    long long* value;
    long long unit;
  };
  long long threads = options.threads;
  long long maxMiB = options.limits.maxDocumentBytes >> 20;
  long long jobHours = options.limits.jobLifetime / 3600;
  long long pcDays = options.limits.pcLifetime / (24 * 3600);
  const NumberOption numbers[] = {
      {"--threads", &threads, 1},
      {"--max-document-mib", &maxMiB, 1},
      {"--max-waiting-jobs", &options.limits.maxWaitingJobs, 1},
      {"--job-hours", &jobHours, 1},
      {"--pc-days", &pcDays, 1},
  };
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) {
      error = "missing value after " + name;
      return false;
    }
    const char* value = argv[++i];
    if (name == "--listen") options.listen = value;
    else if (name == "--data") options.dataFolder = value;
    else if (name == "--cert") options.certFile = value;
    else if (name == "--key") options.keyFile = value;
    else if (name == "--database") options.database = value;
    else {
      const auto* number = std::find_if(std::begin(numbers), std::end(numbers),
                                        [&](const NumberOption& each) { return name == each.name; });
      if (number == std::end(numbers)) {
        error = "unknown option " + name;
        return false;
      }
      if (!ParseNumber(value, *number->value)) {
        error = name + " needs a positive whole number";
        return false;
      }
    }
  }
  options.threads = static_cast<int>(std::min(threads, 256LL));
  options.limits.maxDocumentBytes = maxMiB << 20;
  options.limits.jobLifetime = jobHours * 3600;
  options.limits.pcLifetime = pcDays * 24 * 3600;
  if (options.dataFolder.empty()) error = "--data DIR is required";
  else if (options.certFile.empty() != options.keyFile.empty()) error = "--cert and --key go together";
  // Without TLS, pairing tokens would cross the network in the clear.
  else if (options.certFile.empty() && !IsLoopback(options.listen)) error = "plain HTTP is served on loopback only; give --cert and --key";
  return error.empty();
}
