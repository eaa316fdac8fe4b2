#include "platform/vendorservers.h"

#include <cstdlib>

namespace {

constexpr const char* kDefaultApiServer = "https://api.olvaro.app";
constexpr const char* kDefaultUpdateServer = "http://update.olvaro.app";

// The variable's value without trailing '/', or `fallback` when it is unset or empty.
std::string BaseFromEnvironment(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  std::string base = value && *value ? value : fallback;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

}  // namespace

std::string GetApiServerBase() { return BaseFromEnvironment("OLVARO_API_URL", kDefaultApiServer); }

std::string GetUpdateServerBase() {
  return BaseFromEnvironment("OLVARO_UPDATE_URL", kDefaultUpdateServer);
}

std::string GetServerHost(const std::string& base) {
  const auto schemeEnd = base.find("://");
  const size_t start = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
  const auto end = base.find_first_of("/?#", start);
  return base.substr(start, end == std::string::npos ? std::string::npos : end - start);
}
