#include "relay/relay-private.h"

#include <charconv>
#include <cstdlib>

#include "relay/names.h"
#include "relay/random.h"

namespace {

RelayReply Refused(int status, const std::string& why) { return JsonReply(status, "{\"error\":" + JsonString(why) + "}"); }

}  // namespace

std::unique_ptr<UploadSession> UploadSession::Begin(RelayContext& relay, const RequestView& request, RelayReply& refusal) {
  const auto pairing = relay.store.FindPairing(request.Cookie("olvaro_pairing"), Now());
  if (!pairing) {
    refusal = Refused(401, "not paired");
    return nullptr;
  }
  // The page's token proves the upload comes from the page, not from another site.
  if (request.Header("X-CSRF-Token") != pairing->csrf) {
    refusal = Refused(403, "form token missing or wrong");
    return nullptr;
  }
  const std::string copiesText = request.Argument("copies");
  int copies = 0;
  const auto [end, error] = std::from_chars(copiesText.data(), copiesText.data() + copiesText.size(), copies);
  if (error != std::errc() || end != copiesText.data() + copiesText.size() || copies < 1 || copies > 99) {
    refusal = Refused(400, "copies must be 1 to 99");
    return nullptr;
  }
  const std::string length = request.Header("Content-Length");
  if (!length.empty() && std::strtoll(length.c_str(), nullptr, 10) > relay.store.Limits().maxDocumentBytes) {
    refusal = Refused(413, "document too large");
    return nullptr;
  }
  if (!relay.store.HasRoom(pairing->uuid)) {
    refusal = Refused(429, "too many jobs waiting for this PC");
    return nullptr;
  }
  auto incoming = relay.documents.Begin();
  if (!incoming) {
    refusal = Refused(503, "no room for the document");
    return nullptr;
  }
  return std::unique_ptr<UploadSession>(
      new UploadSession(relay, *pairing, SafeDocumentName(request.Argument("name")), copies, std::move(incoming)));
}

void UploadSession::Receive(const char* data, size_t size) {
  received_ += static_cast<long long>(size);
  // Past the limit nothing more is written and nothing is kept.
  if (received_ > relay_.store.Limits().maxDocumentBytes) tooLarge_ = true;
  if (tooLarge_ || (incoming_ && !incoming_->Write(data, size))) incoming_.reset();
}

RelayReply UploadSession::Finish() {
  if (tooLarge_) return Refused(413, "document too large");
  if (received_ == 0) return Refused(400, "the document is empty");
  const QueuedJob job{RandomHex(16), name_, std::to_string(received_), std::to_string(copies_), std::to_string(Now())};
  if (!incoming_ || !incoming_->Commit(relay_.documents, job.id)) return Refused(503, "the document could not be stored");
  switch (relay_.store.AddJob(pairing_, job)) {
    case AddJobOutcome::Added: return JsonReply(201, "{\"name\":" + JsonString(job.name) + "}");
    case AddJobOutcome::QueueFull: relay_.documents.Remove(job.id); return Refused(429, "too many jobs waiting for this PC");
    case AddJobOutcome::Failed: break;
  }
  relay_.documents.Remove(job.id);
  return Refused(503, "storage unavailable");
}
