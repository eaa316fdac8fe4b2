#include "relay/server.h"
#include "relay/sqldatabase.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

// A positive whole number, with "s", "m", "h" or "d" after it when `durations`.
bool ParseNumber(const char* text, bool durations, long long& value) {
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || value <= 0) return false;
  if (stop == end) return true;
  const std::string unit(stop, end);
  static const std::pair<const char*, long long> kUnits[] = {{"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}};
  for (const auto& [name, seconds] : kUnits) {
    if (durations && unit == name) {
      value *= seconds;
      return true;
    }
  }
  return false;
}

bool IsLoopback(const std::string& listen) {
  return listen.starts_with("127.") || listen.starts_with("[::1]:") || listen.starts_with("localhost:");
}

}  // namespace

bool ParseRelayOptions(int argc, char** argv, RelayOptions& options, std::string& error) {
  struct NumberOption {
    const char* name;
    long long* value;
    bool duration;  // seconds, written with a unit
  };
  long long threads = options.threads;
  long long maxMiB = options.limits.maxDocumentBytes >> 20;
  RelayLimits& limits = options.limits;
  const NumberOption numbers[] = {
      {"--threads", &threads, false},
      {"--max-document-mib", &maxMiB, false},
      {"--max-waiting-jobs", &limits.maxWaitingJobs, false},
      {"--job-lifetime", &limits.jobLifetime, true},
      {"--pc-lifetime", &limits.pcLifetime, true},
      {"--code-lifetime", &limits.codeLifetime, true},
      {"--pairing-lifetime", &limits.pairingLifetime, true},
      {"--max-wrong-codes", &limits.maxWrongCodes, false},
      {"--lock-time", &limits.lockSeconds, true},
      {"--max-wrong-codes-per-minute", &limits.maxWrongCodesPerMinute, false},
      {"--download-lease", &limits.downloadLease, true},
      {"--max-connections", &options.maxConnections, false},
      {"--max-connections-per-address", &options.maxConnectionsPerAddress, false},
      {"--head-time", &options.headSeconds, true},
      {"--request-time", &options.requestSeconds, true},
      {"--identities-per-hour", &options.identitiesPerHour, false},
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
      if (!ParseNumber(value, number->duration, *number->value)) {
        error = name + (number->duration ? " needs a duration such as 90s, 10m, 24h or 90d" : " needs a positive whole number");
        return false;
      }
    }
  }
  options.threads = static_cast<int>(std::min(threads, 256LL));
  limits.maxDocumentBytes = maxMiB << 20;
  if (options.dataFolder.empty() && !IsPostgresTarget(options.database)) error = "--data DIR is required without a PostgreSQL --database";
  else if (options.maxConnectionsPerAddress >= options.maxConnections) error = "--max-connections-per-address must be below --max-connections";
  else if (options.certFile.empty() != options.keyFile.empty()) error = "--cert and --key go together";
  // Without TLS, pairing tokens would cross the network in the clear.
  else if (options.certFile.empty() && !IsLoopback(options.listen)) error = "plain HTTP is served on loopback only; give --cert and --key";
  return error.empty();
}
