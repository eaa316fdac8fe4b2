#include "cloud/cloudmanager.h"

#include <algorithm>

#include "cloud/relayaddress.h"
#include "base/settings.h"
#include "wire/protocol.h"

namespace {

constexpr std::string::size_type kAuthCodeLength = 6;
constexpr int kAuthCodeConnectTimeoutMs = 2000;
constexpr int kAuthCodeReadTimeoutMs = 2000;
constexpr int kAuthCodeTotalTimeoutMs = 4000;

// Characters, not bytes: a UTF-8 continuation byte does not start one.
std::string::size_type CharacterCount(const std::string& text) {
  std::string::size_type count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

}  // namespace

std::string GetCloudUuid() { return ReadStoredCloudUuid(); }

std::string RequestCloudUuid(CHttpClient& http) {
  const HttpResult answer = http.Post(RelayUrl(kRelayNewIdentity), {});
  return answer.ok() && IsValidCloudUuid(answer.text) ? answer.text : std::string();
}

std::string RequestAuthCode(const std::string& uuid) {
  CHttpClient http;
  http.SetConnectTimeout(kAuthCodeConnectTimeoutMs);
  http.SetReadTimeout(kAuthCodeReadTimeoutMs);
  http.SetTotalTimeout(kAuthCodeTotalTimeoutMs);
  const HttpResult answer = http.Post(RelayUrl(kRelayNewAuthCode), {"uuid=" + uuid});
  if (!answer.ok()) return {};
  if (answer.status == 200 && CharacterCount(answer.text) != kAuthCodeLength) return {};
  return answer.text;
}

CCloudUuidRequest::CCloudUuidRequest(std::chrono::milliseconds firstPause, std::chrono::milliseconds longestPause)
    : firstPause(firstPause), longestPause(longestPause) {}

std::string CCloudUuidRequest::Obtain() {
  std::string uuid = ReadStoredCloudUuid();
  for (auto pause = firstPause; uuid.empty(); pause = std::min(pause * 2, longestPause)) {
    uuid = RequestCloudUuid(http);
    if (!uuid.empty()) {
      // A failed store still leaves this run with its identity.
      WriteSettingString("Magic", uuid);
      break;
    }
    std::unique_lock lock(mutex);
    if (stopWake.wait_for(lock, pause, [this] { return stopping; })) break;
  }
  const std::lock_guard lock(mutex);
  return stopping ? std::string() : uuid;
}

void CCloudUuidRequest::Stop() {
  {
    const std::lock_guard lock(mutex);
    stopping = true;
  }
  http.Cancel();
  stopWake.notify_all();
}
