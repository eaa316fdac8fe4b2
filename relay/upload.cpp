#include "relay/relay-private.h"

#include <charconv>
#include <cstdlib>

#include "relay/names.h"
#include "relay/random.h"
#include "wire/protocol.h"

namespace {

RelayReply Refused(int status, const std::string& why) {
  return JsonReply(status, "{\"error\":" + JsonString(why) + "}");
}

}  // namespace

std::unique_ptr<UploadSession> UploadSession::Begin(RelayContext& relay, const RequestView& request,
                                                    RelayReply& refusal) {
  const auto found = relay.store.FindPairing(request.Cookie(kPairingCookie), Now());
  if (found.failed) {
    refusal = StorageFailure(true);
    return nullptr;
  }
  const auto& pairing = found.value;
  if (!pairing) {
    refusal = Refused(401, "not paired");
    return nullptr;
  }
  // The page's token proves the upload comes from the page, not from another site.
  if (request.Header(kCsrfHeader) != pairing->csrf) {
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
  std::string id = RandomHex(16);
  SqlFailure failure = SqlFailure::None;
  auto incoming = relay.documents.Begin(id, failure);
  if (!incoming) {
    refusal = StorageFailure(true, failure);
    return nullptr;
  }
  // Uploads under way hold their place: parallel ones cannot overfill the PC's queue.
  std::string reservation;
  switch (relay.store.Reserve(pairing->uuid, Now(), reservation)) {
    case AddJobOutcome::Added:
      break;
    case AddJobOutcome::QueueFull:
      refusal = Refused(429, "too many jobs waiting for this PC");
      return nullptr;
    case AddJobOutcome::Failed:
      refusal = StorageFailure(true);
      return nullptr;
  }
  return std::unique_ptr<UploadSession>(new UploadSession(relay, *pairing, std::move(id),
                                                          SafeDocumentName(request.Argument("name")), copies,
                                                          std::move(incoming), std::move(reservation)));
}

void UploadSession::Receive(const char* data, size_t size) {
  received_ += static_cast<long long>(size);
  // Past the limit nothing more is written and nothing is kept.
  if (received_ > relay_.store.Limits().maxDocumentBytes) tooLarge_ = true;
  if (tooLarge_) incoming_.reset();
  if (incoming_ && !incoming_->Write(data, size)) {
    failure_ = incoming_->Failure();
    incoming_.reset();
  }
}

RelayReply UploadSession::Finish() {
  if (tooLarge_) return Refused(413, "document too large");
  if (received_ == 0) return Refused(400, "the document is empty");
  const QueuedJob job{id_, name_, std::to_string(received_), std::to_string(copies_), std::to_string(Now())};
  if (!incoming_) return StorageFailure(true, failure_);
  if (!incoming_->Commit()) return StorageFailure(true, incoming_->Failure());
  switch (relay_.store.AddJob(pairing_, job, reservation_)) {
    case AddJobOutcome::Added:
      reservation_.clear();
      return JsonReply(201, "{\"name\":" + JsonString(job.name) + "}");
    case AddJobOutcome::QueueFull:
      relay_.documents.Remove(job.id);
      return Refused(429, "too many jobs waiting for this PC");
    case AddJobOutcome::Failed:
      break;
  }
  const RelayReply failed = StorageFailure(true);
  relay_.documents.Remove(job.id);
  return failed;
}
