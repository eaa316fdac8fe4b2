// The desktop's side of the relay, as the desktop's cloud poller calls it.
#include "relay/relay-private.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "relay/names.h"

namespace {

constexpr char kPrefix[] = "/api/olvarocloud/";
// The desktop joins its addresses with this (escaped once more on the wire).
constexpr char kAddressSeparator[] = "%2C";
constexpr char kNoAddress[] = "      Not Found\n";

bool IsJobId(const std::string& id) {
  return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::string Printable(const std::string& text, size_t limit) {
  std::string kept;
  for (const char c : text.substr(0, limit)) kept += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return kept;
}

std::string AddressList(const std::string& announced) {
  if (announced == kNoAddress) return "";
  std::string list;
  size_t start = 0;
  while (start <= announced.size()) {
    const auto end = std::min(announced.find(kAddressSeparator, start), announced.size());
    if (!list.empty()) list += ", ";
    list += announced.substr(start, end - start);
    start = end + sizeof kAddressSeparator - 1;
  }
  return Printable(list, 400);
}

RelayReply Announce(RelayContext& relay, const RequestView& request) {
  const PcRecord pc{request.Argument("uuid"), Printable(request.Argument("m"), 255),
                    AddressList(request.Argument("ips")), Printable(request.Argument("nh"), 100), 0};
  if (!IsValidIdentity(pc.uuid)) return TextReply(400, "unknown identity");
  return relay.store.Announce(pc, Now()) ? TextReply(200, "1") : TextReply(503, "storage unavailable");
}

// "q/" + first character + "/" + second character + "/" + identity.
RelayReply Queue(RelayContext& relay, const std::string& rest) {
  const std::string uuid = rest.size() > 4 ? rest.substr(4) : "";
  if (!IsValidIdentity(uuid) || rest[0] != uuid[0] || rest[1] != '/' || rest[2] != uuid[1] || rest[3] != '/') {
    return TextReply(404, "no such queue");
  }
  const auto jobs = relay.store.Poll(uuid, Now());
  if (!jobs) return TextReply(503, "storage unavailable");
  if (jobs->empty()) return TextReply(200, "0");
  // One line per job: key, server file name, document name, size, (unused), copies.
  std::string answer;
  for (const QueuedJob& job : *jobs) {
    answer += job.id + "\t" + job.id + "\t" + job.name + "\t" + job.size + "\t" + job.created + "\t" + job.copies + "\n";
  }
  return TextReply(200, answer);
}

RelayReply Download(RelayContext& relay, const std::string& id) {
  if (!IsJobId(id)) return TextReply(404, "no such document");
  const auto size = relay.store.Download(id, Now());
  if (!size) return TextReply(404, "no such document");
  const int fd = open(relay.documents.PathOf(id).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  struct stat status {};
  // Exactly the announced bytes or nothing: the desktop checks the length.
  if (fd < 0 || fstat(fd, &status) != 0 || status.st_size != *size) {
    if (fd >= 0) close(fd);
    return TextReply(500, "document unavailable");
  }
  RelayReply reply;
  reply.type = "application/octet-stream";
  reply.fd = fd;
  reply.fdSize = *size;
  return reply;
}

RelayReply Acknowledge(RelayContext& relay, const RequestView& request) {
  const auto form = ParseForm(request.body);
  const auto field = [&form](const char* name) {
    const auto found = form.find(name);
    return found == form.end() ? std::string() : found->second;
  };
  const std::string id = field("file");
  if (!IsJobId(id) || !relay.store.Acknowledge(field("uuid"), id)) return TextReply(404, "no such job");
  relay.documents.Remove(id);
  return TextReply(200, "1");
}

RelayReply AuthCode(RelayContext& relay, const RequestView& request) {
  const auto form = ParseForm(request.body);
  const auto uuid = form.find("uuid");
  if (uuid == form.end() || !IsValidIdentity(uuid->second)) return TextReply(400, "unknown identity");
  const std::string code = relay.store.IssueAuthCode(uuid->second, Now());
  return code.empty() ? TextReply(503, "storage unavailable") : TextReply(200, code);
}

}  // namespace

RelayReply HandleApi(RelayContext& relay, const RequestView& request) {
  const std::string route = request.path.substr(sizeof kPrefix - 1);
  const bool get = request.method == "GET";
  const bool post = request.method == "POST";
  if (post && route == "generate-uuid.php") {
    if (const long long wait = relay.identityRate.Take(request.address, Now())) {
      RelayReply reply = TextReply(429, "too many new identities from this address");
      reply.headers.emplace_back("Retry-After", std::to_string(wait));
      return reply;
    }
    const std::string uuid = relay.store.NewIdentity(Now());
    return uuid.empty() ? TextReply(503, "storage unavailable") : TextReply(200, uuid);
  }
  if (post && route == "generate-magic.php") return AuthCode(relay, request);
  if (get && route == "desktop.php") return Announce(relay, request);
  if (get && route.starts_with("q/")) return Queue(relay, route.substr(2));
  if (get && route.starts_with("upload/")) return Download(relay, route.substr(7));
  if (post && route == "mark.php") return Acknowledge(relay, request);
  return TextReply(404, "not found");
}
