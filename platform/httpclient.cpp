// The part of the HTTP client every system shares: the options, the limits a request
// gets, and what is done around the system's own transfer.
#include "platform/httpclient.h"

#include "platform/httptext.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// A download may take one more second for each of these many bytes it may bring: a
// large document on a slow line still arrives, an endless trickle does not go on for ever.
constexpr long long kSlowestDownloadBytesPerSecond = 64 * 1024;

}  // namespace

void CHttpClient::SetConnectTimeout(int milliseconds) { options_.connectTimeoutMs = std::max(1, milliseconds); }
void CHttpClient::SetReadTimeout(int milliseconds) { options_.readTimeoutMs = std::max(1, milliseconds); }
void CHttpClient::SetTotalTimeout(int milliseconds) { options_.totalTimeoutMs = std::max(1, milliseconds); }
void CHttpClient::SetFollowRedirects(bool follow) { options_.followRedirects = follow; }
void CHttpClient::SetHost(const std::string& host) { options_.host = host; }

HttpResult CHttpClient::Get(const std::string& url) {
  return Perform({url, nullptr, nullptr, kMaxTextBody, options_.totalTimeoutMs});
}

HttpResult CHttpClient::Get(const std::string& url, CNewFile& file, long long maxBytes) {
  if (!file.IsOpen()) return {HttpFailure::Write, 0, "no file to write to", {}};
  maxBytes = std::max(0LL, maxBytes);
  HttpResult result =
      Perform({url, nullptr, &file, maxBytes, options_.totalTimeoutMs + maxBytes / kSlowestDownloadBytesPerSecond * 1000});
  // The file gathers what arrives: its last write may fail only now.
  if (result.ok() && !file.Flush()) result = {HttpFailure::Write, result.status, std::strerror(errno), {}};
  return result;
}

HttpResult CHttpClient::Post(const std::string& url, const std::vector<std::string>& form) {
  const std::string body = FormBody(form);
  return Perform({url, &body, nullptr, kMaxTextBody, options_.totalTimeoutMs});
}
