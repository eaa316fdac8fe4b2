#include "update/updatecheck.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <thread>

#include "platform/clock.h"
#include "platform/httpclient.h"
#include "platform/vendorservers.h"
#include "base/settings.h"

namespace {

constexpr int kConnectTimeoutMs = 30000;
constexpr const char* kVersionFilePath = "/up/print/win_appcast.txt";
constexpr const char* kDownloadPagePath = "/up/print/win_downloadurl.php";

}  // namespace

int ReadVersionNumber(const std::string& text) {
  // By hand rather than with sscanf, whose "%d" has undefined behaviour on overflow.
  auto at = text.begin();
  while (at != text.end() && std::isspace(static_cast<unsigned char>(*at))) ++at;
  bool negative = false;
  if (at != text.end() && (*at == '+' || *at == '-')) negative = *at++ == '-';
  long long value = 0;
  for (; at != text.end() && std::isdigit(static_cast<unsigned char>(*at)); ++at) {
    value = std::min<long long>(value * 10 + (*at - '0'), static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) return static_cast<int>(-value);
  return static_cast<int>(std::min<long long>(value, INT_MAX));
}

int FetchLatestVersionNumber() {
  const std::string base = GetUpdateServerBase();
  CHttpClient http;
  http.SetConnectTimeout(kConnectTimeoutMs);
  http.SetFollowRedirects(true);
  http.SetHost(GetServerHost(base));
  const HttpResult answer = http.Get(base + kVersionFilePath);
  if (http.GetResponseCode() != 200 || !answer.ok()) return 0;
  return ReadVersionNumber(answer.text);
}

std::string GetDownloadPageUrl() { return GetUpdateServerBase() + kDownloadPagePath; }

void UpdateCheckThread(const std::function<void()>& offerDownload) {
  const int latest = FetchLatestVersionNumber();
  if (latest == 0) return;
  WriteLastUpdateCheckTime(GetLocalFileTime());
  if (latest > kThisVersionNumber) offerDownload();
}

void StartUpdateCheck(std::function<void()> offerDownload) {
  // Never joined: the process may end while the request still waits.
  std::thread([offer = std::move(offerDownload)] { UpdateCheckThread(offer); }).detach();
}

void ReportNewVersionOnStderr() {
  std::fprintf(stderr, "Olvaro Desktop: a new version is available at %s\n",
               GetDownloadPageUrl().c_str());
}
