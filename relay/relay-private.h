// What the relay's modules share: the request as handlers read it, the reply they
// build, and the state every handler reaches. Handlers run on the server's threads.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "relay/addressrate.h"
#include "relay/documents.h"
#include "relay/store.h"

struct MHD_Connection;

struct RelayContext {
  RelayStore& store;
  DocumentStore& documents;
  AddressRate& identityRate;  // new PC identities per address
};

struct RelayReply {
  int status = 200;
  std::string type = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  DocumentBody document;  // when it has a file or a reader, the reply's body
};

// A request's head, its client and (for small forms) its body.
struct RequestView {
  MHD_Connection* connection = nullptr;
  std::string method;
  std::string path;
  std::string address;  // the client; behind a proxy on loopback, the one it names
  std::string body;

  std::string Argument(const char* name) const;
  std::string Header(const char* name) const;
  std::string Cookie(const char* name) const;
};

// Seconds since the epoch.
long long Now();

RelayReply TextReply(int status, std::string body);
RelayReply JsonReply(int status, std::string json);
// The answer when the storage failed: the database away (503, try again), full (507) or
// failing otherwise (500); `json` for the page. By default the failure of this thread's
// last request of the database.
RelayReply StorageFailure(bool json, SqlFailure failure = LastSqlFailure());
// `text` as a JSON string literal.
std::string JsonString(const std::string& text);
// The fields of an application/x-www-form-urlencoded body.
std::map<std::string, std::string> ParseForm(const std::string& body);

// The desktop's side under kRelayApiPrefix.
RelayReply HandleApi(RelayContext& relay, const RequestView& request);
// The page, its files, pairing and status.
RelayReply HandleWeb(RelayContext& relay, const RequestView& request);

// A document upload (POST kPageUpload), streamed to the document store as it arrives.
class UploadSession {
 public:
  // Checks pairing, form token and limits before any byte is taken. Null with `refusal`
  // set when the upload is refused.
  static std::unique_ptr<UploadSession> Begin(RelayContext& relay, const RequestView& request, RelayReply& refusal);
  ~UploadSession() { relay_.store.Release(reservation_); }
  UploadSession(const UploadSession&) = delete;
  UploadSession& operator=(const UploadSession&) = delete;
  void Receive(const char* data, size_t size);
  RelayReply Finish();

 private:
  UploadSession(RelayContext& relay, Pairing pairing, std::string id, std::string name, int copies,
                std::unique_ptr<IncomingDocument> incoming, std::string reservation)
      : relay_(relay),
        pairing_(std::move(pairing)),
        id_(std::move(id)),
        name_(std::move(name)),
        copies_(copies),
        incoming_(std::move(incoming)),
        reservation_(std::move(reservation)) {}

  RelayContext& relay_;
  Pairing pairing_;
  std::string id_;  // the job's, and its document's
  std::string name_;
  int copies_;
  std::unique_ptr<IncomingDocument> incoming_;  // dropped as soon as anything fails
  std::string reservation_;  // the upload's place in the PC's queue, given back unless it became a job
  long long received_ = 0;
  bool tooLarge_ = false;
  SqlFailure failure_ = SqlFailure::None;  // why the bytes could not be kept
};
