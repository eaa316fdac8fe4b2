// Sending through a relay: pairing with a code, the stored pairing, the upload.
#include "sender/sender.h"

#include <unistd.h>

#include <cstdio>

#include "platform/httptext.h"
#include "sender/pairings.h"
#include "sender/relayaddress.h"
#include "sender/sendhttp.h"
#include "sender/terminaltext.h"
#include "text/jsonmember.h"
#include "wire/protocol.h"

namespace {

// The pairing token the relay set, when it is one; empty otherwise.
std::string TokenFromCookies(const HttpResult& answer) {
  const std::string prefix = std::string(kPairingCookie) + "=";
  for (const auto& [name, value] : answer.headers) {
    if (name != "set-cookie" || !value.starts_with(prefix)) continue;
    const std::string token = value.substr(prefix.size(), value.find(';') - prefix.size());
    return IsRelayToken(token) ? token : "";
  }
  return "";
}

int Pair(CHttpClient& http, const std::string& relay, const std::string& code) {
  const HttpResult answer = http.Post(relay + kPagePair, {"code=" + code});
  if (!Answered(answer, "relay " + relay)) return kUnreachable;
  const std::string token = TokenFromCookies(answer);
  if (answer.status == 200 && !token.empty()) {
    if (StorePairing(relay, token)) return kSent;
    std::fprintf(stderr, "olvaro-send: cannot store the pairing in %s\n", PairingsPath().c_str());
    return kFailed;
  }
  const char* why = answer.status == 403   ? "the code is wrong"
                    : answer.status == 410 ? "the code has expired; show the PC's window for a new one"
                    : answer.status == 429 ? "too many wrong codes from here; try again in 15 minutes"
                                           : nullptr;
  if (!why) {
    std::fprintf(stderr, "olvaro-send: the relay could not pair (status %d%s)\n", answer.status,
                 answer.status == 200 ? ", no valid pairing token" : "");
    return kFailed;
  }
  std::fprintf(stderr, "olvaro-send: %s\n", why);
  return kBadCode;
}

}  // namespace

int SendThroughRelay(const SendRequest& request) {
  std::string relay, error;
  if (!NormaliseRelayUrl(request.relay, relay, error)) {
    std::fprintf(stderr, "olvaro-send: %s\n", error.c_str());
    return kUsage;
  }
  if (access(request.file.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "olvaro-send: cannot read %s\n", request.file.c_str());
    return kUnreadableFile;
  }
  CHttpClient http;
  UseSendLimits(http, request.timeoutSeconds);
  if (!request.code.empty()) {
    if (const int paired = Pair(http, relay, request.code); paired != kSent) return paired;
  }
  const std::string token = StoredToken(relay);
  if (token.empty()) {
    std::fprintf(stderr, "olvaro-send: not paired with %s; give --code with the code the PC shows\n", relay.c_str());
    return kBadCode;
  }
  const std::string cookie = std::string("Cookie: ") + kPairingCookie + "=" + token;
  http.SetHeaders({cookie});
  const HttpResult status = http.Get(relay + kPageStatus);
  if (!Answered(status, "relay " + relay)) return kUnreachable;
  if (status.status == 401) {
    std::fprintf(stderr, "olvaro-send: the pairing with %s has ended; pair again with --code\n", relay.c_str());
    return kBadCode;
  }
  if (status.status != 200) {
    std::fprintf(stderr, "olvaro-send: the relay answered status %d\n", status.status);
    return kFailed;
  }
  const std::string name = BaseName(request.file);
  const std::string announced = TerminalSafe(JsonMember(status.text, "name"));
  const std::string pc = announced.empty() ? "the PC" : announced;
  if (PcCannotPrint(JsonMember(status.text, "notHave"), name) && !request.force) {
    std::fprintf(stderr, "olvaro-send: %s cannot print files like %s (--force sends it anyway)\n", pc.c_str(),
                 name.c_str());
    return kRefusedFormat;
  }
  if (JsonMember(status.text, "online") != "true") {
    std::fprintf(stderr, "olvaro-send: %s has not polled for %s s; the job waits until it does\n", pc.c_str(),
                 TerminalSafe(JsonMember(status.text, "lastSeenSeconds")).c_str());
  }
  http.SetHeaders({cookie, std::string(kCsrfHeader) + ": " + JsonMember(status.text, "csrf")});
  ShowUploadProgress(http);
  const HttpResult upload = http.PostFile(
      relay + kPageUpload + "?" + FormBody({"name=" + name, "copies=" + std::to_string(request.copies)}), request.file);
  if (!Answered(upload, "relay " + relay)) return kUnreachable;
  if (upload.status != 201) {
    const std::string reason = TerminalSafe(JsonMember(upload.text, "error"));
    std::fprintf(stderr, "olvaro-send: the relay refused %s: %s\n", name.c_str(),
                 reason.empty() ? ("status " + std::to_string(upload.status)).c_str() : reason.c_str());
    return kFailed;
  }
  std::printf("Sent %s to %s; it prints when the PC next polls the relay.\n", name.c_str(), pc.c_str());
  return kSent;
}
