// The sender's side: the page, pairing a browser with a PC, and what the page shows.
#include "relay/relay-private.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "relay/webfiles.h"
#include "text/jsonmember.h"
#include "wire/protocol.h"

namespace {

// A PC counts as online while its polls (one a minute) keep coming.
constexpr long long kOnlineSeconds = 150;

RelayReply StaticFile(const std::string& path) {
  const std::string wanted = path == "/" ? "/index.html" : path;
  const auto* end = kWebFiles + kWebFileCount;
  const auto* file = std::find_if(kWebFiles, end, [&](const WebFile& each) { return wanted == each.path; });
  if (file == end) return TextReply(404, "not found");
  RelayReply reply = TextReply(200, std::string(reinterpret_cast<const char*>(file->data), file->size));
  reply.type = file->type;
  reply.headers.emplace_back("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
  reply.headers.emplace_back("X-Content-Type-Options", "nosniff");
  return reply;
}

std::string NormalisedCode(const std::string& typed) {
  std::string code;
  for (const char c : typed) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      code += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return code;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A browser names the site a request comes from (all of them send Origin with a POST;
// the newer ones also Sec-Fetch-Site, which a proxy that rewrites Host cannot confuse).
bool FromAnotherSite(const RequestView& request) {
  const std::string site = request.Header("Sec-Fetch-Site");
  if (!site.empty()) return site != "same-origin";
  const std::string origin = request.Header("Origin");
  const auto scheme = origin.find("://");
  return !origin.empty() &&
         (scheme == std::string::npos || !SameText(origin.substr(scheme + 3), request.Header("Host")));
}

// The code typed on the page, or sent by a program. A browser's pairing must come from the
// relay's own page, as JSON: a form on another site cannot send that without asking first.
// A program sends neither Origin nor Sec-Fetch-Site and may post a form.
std::optional<std::string> TypedCode(const RequestView& request) {
  const bool browser = !request.Header("Origin").empty() || !request.Header("Sec-Fetch-Site").empty();
  if (!browser) {
    const auto form = ParseForm(request.body);
    const auto typed = form.find("code");
    return typed == form.end() ? "" : typed->second;
  }
  const std::string type = request.Header("Content-Type");
  if (FromAnotherSite(request) || !SameText(type.substr(0, type.find(';')), "application/json")) return std::nullopt;
  return JsonMember(request.body, "code");
}

RelayReply Pair(RelayContext& relay, const RequestView& request) {
  const auto typed = TypedCode(request);
  if (!typed) return JsonReply(403, "{\"error\":\"pair on the relay's own page\"}");
  Pairing pairing;
  long long lockedFor = 0;
  const PairOutcome outcome = relay.store.Pair(NormalisedCode(*typed), request.address, Now(), pairing, lockedFor);
  switch (outcome) {
    case PairOutcome::Paired: {
      RelayReply reply = JsonReply(200, "{\"paired\":true}");
      reply.headers.emplace_back("Set-Cookie",
                                 std::string(kPairingCookie) + "=" + pairing.token +
                                     "; Path=/; Max-Age=" + std::to_string(relay.store.Limits().pairingLifetime) +
                                     "; Secure; HttpOnly; SameSite=Strict");
      return reply;
    }
    case PairOutcome::Wrong:
      return JsonReply(403, "{\"error\":\"wrong code\"}");
    case PairOutcome::Expired:
      return JsonReply(410, "{\"error\":\"expired code\"}");
    case PairOutcome::Locked: {
      // The page tells the user the wait the header gives: the lock's, or the relay-wide minute's.
      RelayReply reply = JsonReply(429, "{\"error\":\"too many wrong codes, try again later\"}");
      reply.headers.emplace_back("Retry-After", std::to_string(lockedFor));
      return reply;
    }
    case PairOutcome::Failed:
      break;
  }
  return StorageFailure(true);
}

RelayReply Status(RelayContext& relay, const RequestView& request) {
  const auto found = relay.store.FindPairing(request.Cookie(kPairingCookie), Now());
  const auto foundPc = found.value ? relay.store.FindPc(found.value->uuid) : Lookup<PcRecord>{};
  if (found.failed || foundPc.failed) return StorageFailure(true);
  if (!foundPc.value) return JsonReply(401, "{\"error\":\"not paired\"}");
  const auto sent = relay.store.SentJobs(found.value->token);
  if (sent.failed) return StorageFailure(true);
  const Pairing& pairing = *found.value;
  const PcRecord& pc = *foundPc.value;
  const long long ago = std::max(0LL, Now() - pc.lastSeen);
  std::string jobs;
  for (const SentJob& job : *sent.value) {
    jobs += std::string(jobs.empty() ? "" : ",") + "{\"name\":" + JsonString(job.name) + ",\"copies\":" + job.copies +
            ",\"state\":" + JsonString(job.state) + "}";
  }
  return JsonReply(200, "{\"name\":" + JsonString(pc.host) + ",\"addresses\":" + JsonString(pc.addresses) +
                            ",\"notHave\":" + JsonString(pc.notHave) + ",\"lastSeenSeconds\":" + std::to_string(ago) +
                            ",\"online\":" + (ago <= kOnlineSeconds ? "true" : "false") +
                            ",\"maxBytes\":" + std::to_string(relay.store.Limits().maxDocumentBytes) +
                            ",\"csrf\":" + JsonString(pairing.csrf) + ",\"jobs\":[" + jobs + "]}");
}

}  // namespace

RelayReply HandleWeb(RelayContext& relay, const RequestView& request) {
  if (request.method == "POST" && request.path == kPagePair) return Pair(relay, request);
  if (request.method == "GET" && request.path == kPageStatus) return Status(relay, request);
  if (request.method == "GET") return StaticFile(request.path);
  return TextReply(404, "not found");
}
