#include "sender/sendhttp.h"

#include <unistd.h>

#include <cstdio>

void UseSendLimits(CHttpClient& http, int timeoutSeconds) {
  http.SetConnectTimeout(timeoutSeconds * 1000);
  http.SetReadTimeout(timeoutSeconds * 1000);
  http.SetTotalTimeout(2 * timeoutSeconds * 1000);
  http.SetKeepErrorAnswers(true);
}

void ShowUploadProgress(CHttpClient& http) {
  if (!isatty(STDERR_FILENO)) return;
  http.SetUploadProgress([shown = -1](long long sent, long long total) mutable {
    const int percent = total > 0 ? static_cast<int>(100 * sent / total) : shown;
    if (percent == shown) return;
    shown = percent;
    constexpr int kWidth = 40;
    const int filled = kWidth * percent / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%%s", std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kWidth - filled), ' ').c_str(), percent, percent == 100 ? "\n" : "");
  });
}

bool Answered(const HttpResult& result, const std::string& who) {
  if (result.ok() || result.failure == HttpFailure::Status) return true;
  const char* why = result.failure == HttpFailure::Timeout    ? "no answer in time: "
                    : result.failure == HttpFailure::TooLarge ? "an answer too large to take: "
                                                              : "";
  std::fprintf(stderr, "olvaro-send: %s did not answer: %s%s\n", who.c_str(), why, result.error.c_str());
  return false;
}
