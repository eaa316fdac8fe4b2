// The desktop's side of the relay, as the desktop's cloud poller calls it.
#include "relay/relay-private.h"

#include <algorithm>

#include "relay/names.h"
#include "text/utf8.h"
#include "wire/protocol.h"

namespace {

bool IsJobId(const std::string& id) {
  return id.size() == 32 &&
         std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Valid UTF-8 of at most `limit` bytes without control characters: what is stored and shown.
std::string Printable(const std::string& text, size_t limit) {
  std::string kept = CutUtf8(RepairUtf8(text), limit);
  for (char& c : kept) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return kept;
}

std::string AddressList(const std::string& announced) {
  if (announced == kAnnouncedNoAddress) return "";
  std::string list;
  size_t start = 0;
  while (start <= announced.size()) {
    const auto end = std::min(announced.find(kAnnouncedAddressSeparator, start), announced.size());
    if (!list.empty()) list += ", ";
    list += announced.substr(start, end - start);
    start = end + sizeof kAnnouncedAddressSeparator - 1;
  }
  return Printable(list, 400);
}

RelayReply Announce(RelayContext& relay, const RequestView& request) {
  const PcRecord pc{request.Argument("uuid"), Printable(request.Argument("m"), 255),
                    AddressList(request.Argument("ips")), Printable(request.Argument("nh"), 100), 0};
  if (!IsValidIdentity(pc.uuid)) return TextReply(400, "unknown identity");
  return relay.store.Announce(pc, Now()) ? TextReply(200, "1") : StorageFailure(false);
}

// kRelayQueue + first character + "/" + second character + "/" + identity.
RelayReply Queue(RelayContext& relay, const std::string& rest) {
  const std::string uuid = rest.size() > 4 ? rest.substr(4) : "";
  if (!IsValidIdentity(uuid) || rest[0] != uuid[0] || rest[1] != '/' || rest[2] != uuid[1] || rest[3] != '/') {
    return TextReply(404, "no such queue");
  }
  const auto polled = relay.store.Poll(uuid, Now());
  if (polled.failed) return StorageFailure(false);
  const std::vector<QueuedJob>* jobs = &*polled.value;
  if (jobs->empty()) return TextReply(200, kQueueEmpty);
  std::string answer;
  for (const QueuedJob& job : *jobs) {
    std::string fields[kQueueFieldCount];
    fields[kQueueJobId] = fields[kQueueFile] = job.id;
    fields[kQueueName] = job.name;
    fields[kQueueSize] = job.size;
    fields[kQueueCreated] = job.created;
    fields[kQueueCopies] = job.copies;
    for (int field = 0; field < kQueueFieldCount; ++field) {
      answer += fields[field] + (field + 1 < kQueueFieldCount ? kQueueFieldSeparator : kQueueLineEnd);
    }
  }
  return TextReply(200, answer);
}

RelayReply Download(RelayContext& relay, const std::string& id) {
  if (!IsJobId(id)) return TextReply(404, "no such document");
  const auto found = relay.store.Download(id, Now());
  if (found.failed) return StorageFailure(false);
  // Unknown, or being downloaded by another request of the PC (a clone, a retried poll).
  if (!found.value) return TextReply(404, "no such document");
  RelayReply reply;
  const SqlFailure failure = relay.documents.Find(id, *found.value, reply.document);
  if (failure == SqlFailure::Failed) return TextReply(500, "document unavailable");
  if (failure != SqlFailure::None) return StorageFailure(false, failure);
  reply.type = "application/octet-stream";
  return reply;
}

RelayReply Acknowledge(RelayContext& relay, const RequestView& request) {
  const auto form = ParseForm(request.body);
  const auto field = [&form](const char* name) {
    const auto found = form.find(name);
    return found == form.end() ? std::string() : found->second;
  };
  const std::string id = field("file");
  if (!IsJobId(id) || !IsValidIdentity(field("uuid"))) return TextReply(404, "no such job");
  const auto acknowledged = relay.store.Acknowledge(field("uuid"), id);
  if (acknowledged.failed) return StorageFailure(false);
  if (!acknowledged.value) return TextReply(404, "no such job");
  relay.documents.Remove(id);
  return TextReply(200, "1");
}

RelayReply AuthCode(RelayContext& relay, const RequestView& request) {
  const auto form = ParseForm(request.body);
  const auto uuid = form.find("uuid");
  if (uuid == form.end() || !IsValidIdentity(uuid->second)) return TextReply(400, "unknown identity");
  const auto code = relay.store.IssueAuthCode(uuid->second, Now());
  return code.failed ? StorageFailure(false) : TextReply(200, *code.value);
}

}  // namespace

RelayReply HandleApi(RelayContext& relay, const RequestView& request) {
  const std::string route = request.path.substr(sizeof kRelayApiPrefix - 1);
  const bool get = request.method == "GET";
  const bool post = request.method == "POST";
  if (post && route == kRelayNewIdentity) {
    if (const long long wait = relay.identityRate.Take(request.address, Now())) {
      RelayReply reply = TextReply(429, "too many new identities from this address");
      reply.headers.emplace_back("Retry-After", std::to_string(wait));
      return reply;
    }
    const auto uuid = relay.store.NewIdentity(Now());
    return uuid.failed ? StorageFailure(false) : TextReply(200, *uuid.value);
  }
  if (post && route == kRelayNewAuthCode) return AuthCode(relay, request);
  if (get && route == kRelayAnnounce) return Announce(relay, request);
  if (get && route.starts_with(kRelayQueue)) return Queue(relay, route.substr(sizeof kRelayQueue - 1));
  if (get && route.starts_with(kRelayDownload)) return Download(relay, route.substr(sizeof kRelayDownload - 1));
  if (post && route == kRelayAcknowledge) return Acknowledge(relay, request);
  return TextReply(404, "not found");
}
