// The part of the HTTP client every system shares: the options, the limits a request
// gets, and what is done around the system's own transfer.
#include "platform/httpclient.h"

#include "platform/httptext.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

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
void CHttpClient::SetHeaders(std::vector<std::string> lines) { options_.headers = std::move(lines); }
void CHttpClient::SetKeepErrorAnswers(bool keep) { options_.keepErrorAnswers = keep; }
void CHttpClient::SetUploadProgress(HttpUploadProgress progress) { options_.progress = std::move(progress); }

std::string HttpResult::Header(const std::string& lowerName) const {
  for (const auto& [name, value] : headers) {
    if (name == lowerName) return value;
  }
  return {};
}

HttpResult CHttpClient::Get(const std::string& url) {
  return Perform({url, nullptr, nullptr, 0, nullptr, kMaxTextBody, options_.totalTimeoutMs});
}

HttpResult CHttpClient::Get(const std::string& url, CNewFile& file, long long maxBytes) {
  if (!file.IsOpen()) return {HttpFailure::Write, 0, "no file to write to", {}, {}};
  maxBytes = std::max(0LL, maxBytes);
  HttpResult result =
      Perform({url, nullptr, nullptr, 0, &file, maxBytes, options_.totalTimeoutMs + maxBytes / kSlowestDownloadBytesPerSecond * 1000});
  // The file gathers what arrives: its last write may fail only now.
  if (result.ok() && !file.Flush()) result = {HttpFailure::Write, result.status, std::strerror(errno), {}, {}};
  return result;
}

HttpResult CHttpClient::Post(const std::string& url, const std::vector<std::string>& form) {
  const std::string body = FormBody(form);
  return Perform({url, &body, nullptr, 0, nullptr, kMaxTextBody, options_.totalTimeoutMs});
}

HttpResult CHttpClient::PostFile(const std::string& url, const std::string& path) {
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  std::ifstream body(file, std::ios::binary);
  std::error_code error;
  const auto size = static_cast<long long>(std::filesystem::file_size(file, error));
  if (!body || error) return {HttpFailure::Other, 0, "cannot read " + path, {}, {}};
  return Perform({url, nullptr, &body, size, nullptr, kMaxTextBody,
                  options_.totalTimeoutMs + size / kSlowestDownloadBytesPerSecond * 1000});
}
