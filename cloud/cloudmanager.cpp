#include "cloud/cloudmanager.h"

#include <mutex>

#include "cloud/relayaddress.h"
#include "platform/httpclient.h"
#include "base/settings.h"

namespace {

constexpr std::string::size_type kUuidLength = 36;
constexpr std::string::size_type kAuthCodeLength = 6;
constexpr int kAuthCodeReadTimeoutMs = 2000;

// Characters, not bytes: a UTF-8 continuation byte does not start one.
std::string::size_type CharacterCount(const std::string& text) {
  std::string::size_type count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

bool IsValidUuid(const std::string& uuid) { return CharacterCount(uuid) == kUuidLength; }

}  // namespace

std::string GetCloudUuid() {
  std::string uuid = ReadMagicValue();
  if (IsValidUuid(uuid)) return uuid;

  // Callers that find no identity at the same moment wait for the first one's request
  // and then read what it stored, so only one identity is ever issued.
  static std::mutex firstRequest;
  const std::lock_guard lock(firstRequest);
  uuid = ReadMagicValue();
  if (IsValidUuid(uuid)) return uuid;
  uuid = RequestCloudUuid();
  WriteSettingString("Magic", uuid);
  return uuid;
}

std::string RequestCloudUuid() {
  CHttpClient http;
  const HttpResult answer = http.Post(RelayUrl("generate-uuid.php"), {});
  return answer.ok() ? answer.text : "0";
}

std::string RequestAuthCode(const std::string& uuid) {
  CHttpClient http;
  http.SetReadTimeout(kAuthCodeReadTimeoutMs);
  const HttpResult answer = http.Post(RelayUrl("generate-magic.php"), {"uuid=" + uuid});
  if (!answer.ok()) return {};
  if (answer.status == 200 && CharacterCount(answer.text) != kAuthCodeLength) return {};
  return answer.text;
}
