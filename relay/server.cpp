#include "relay/server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <strings.h>
#include <sys/resource.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "relay/acceptor.h"
#include "relay/addressrate.h"
#include "relay/databasedocuments.h"
#include "relay/deadlines.h"
#include "relay/documentfolder.h"
#include "relay/relay-private.h"
#include "wire/protocol.h"

namespace {

// Forms from the desktop and the page are a few hundred bytes.
constexpr size_t kMaxFormBytes = 8192;
// How long after a job's lifetime, or an upload's, its document may still be on the way
// to its record.
constexpr long long kOrphanGraceSeconds = 60;
// The pieces in which a document read from the database goes out.
constexpr size_t kReaderBlockBytes = 64 * 1024;
// Silence allowed in the middle of a request.
constexpr unsigned kIdleSeconds = 120;
// How often the last-seen times noted by polls are written.
constexpr auto kSeenWriteInterval = std::chrono::seconds(5);
// How often the PCs that jobs were added for are read: a job added by a relay that tells
// no news of it shows at the next poll after that.
constexpr auto kCatchUpInterval = std::chrono::seconds(1);
// Descriptors beside the connections: storage, documents on their way, the server's own.
constexpr long long kSpareDescriptors = 256;
// TLS 1.2 and 1.3 with forward-secret key exchange and authenticated encryption only.
constexpr char kTlsPriorities[] =
    "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-CIPHER-ALL:+AES-256-GCM:+AES-128-GCM:+CHACHA20-POLY1305:"
    "-MAC-ALL:+AEAD:-KX-ALL:+ECDHE-ECDSA:+ECDHE-RSA:%SERVER_PRECEDENCE";

// What one request carries from its first call to its log line.
struct Exchange {
  RequestView view;
  std::unique_ptr<UploadSession> upload;
  std::optional<RelayReply> refusal;  // given once the refused body has been read
  bool answered = false;
  bool formTooLarge = false;
  int status = 0;
  long long received = 0;
};

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::string NumericAddress(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (address && address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address && address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  }
  return text;
}

// The client's address; behind a reverse proxy on loopback, the last one it forwarded.
std::string ClientAddress(MHD_Connection* connection, bool tls) {
  const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  const std::string peer = NumericAddress(info ? info->client_addr : nullptr);
  const char* forwarded = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-For");
  if (tls || !forwarded || (peer != "::1" && !peer.starts_with("127."))) return peer;
  std::string last = forwarded;
  last = last.substr(last.find_last_of(',') == std::string::npos ? 0 : last.find_last_of(',') + 1);
  const auto start = last.find_first_not_of(' ');
  return start == std::string::npos ? peer : last.substr(start, 64);
}

// The path as logged: identities and download keys stay out of the log.
std::string LoggedPath(const std::string& path) {
  for (const char* secret : {kRelayQueue, kRelayDownload}) {
    const std::string prefix = std::string(kRelayApiPrefix) + secret;
    if (path.starts_with(prefix)) return prefix + "...";
  }
  std::string logged;
  for (const char c : path.substr(0, 120)) logged += static_cast<unsigned char>(c) <= 0x20 ? '_' : c;
  return logged;
}

void LogRequest(const Exchange& exchange) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::fprintf(stderr, "%s %s %s %s %d %lld\n", stamp, exchange.view.address.c_str(), exchange.view.method.c_str(),
               LoggedPath(exchange.view.path).c_str(), exchange.status, exchange.received);
}

// Two lengths, or a length beside a transfer coding: a proxy in front may read the body
// differently from this server and take part of it for a second request.
bool AmbiguousBodyLength(MHD_Connection* connection) {
  struct Seen {
    int lengths = 0;
    bool coding = false;
  } seen;
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* counts, MHD_ValueKind, const char* name, const char*) {
        auto& seen = *static_cast<Seen*>(counts);
        seen.lengths += strcasecmp(name, "Content-Length") == 0;
        seen.coding = seen.coding || strcasecmp(name, "Transfer-Encoding") == 0;
        return MHD_YES;
      },
      &seen);
  return seen.lengths > 1 || (seen.lengths == 1 && seen.coding);
}

MHD_Response* DocumentResponse(const DocumentBody& document) {
  const auto size = static_cast<uint64_t>(document.size);
  if (document.fd >= 0) return MHD_create_response_from_fd64(size, document.fd);
  return MHD_create_response_from_callback(
      size, kReaderBlockBytes,
      [](void* reader, uint64_t offset, char* into, size_t max) -> ssize_t {
        const long long read = (*static_cast<std::shared_ptr<DocumentReader>*>(reader))->Read(offset, into, max);
        return read > 0 ? static_cast<ssize_t>(read) : MHD_CONTENT_READER_END_WITH_ERROR;
      },
      new std::shared_ptr<DocumentReader>(document.reader),
      [](void* reader) { delete static_cast<std::shared_ptr<DocumentReader>*>(reader); });
}

MHD_Result Answer(Exchange& exchange, const RelayReply& reply, bool tls) {
  const DocumentBody& document = reply.document;
  MHD_Response* response = document.fd >= 0 || document.reader
                               ? DocumentResponse(document)
                               : MHD_create_response_from_buffer(
                                     reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", reply.type.c_str());
  for (const auto& [name, value] : reply.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  if (tls) MHD_add_response_header(response, "Strict-Transport-Security", "max-age=31536000");
  exchange.answered = true;
  exchange.status = reply.status;
  const MHD_Result queued = MHD_queue_response(exchange.view.connection, static_cast<unsigned>(reply.status), response);
  MHD_destroy_response(response);
  return queued;
}

bool ResolveListen(const std::string& listen, sockaddr_storage& address, std::string& error) {
  const auto colon = listen.rfind(':');
  if (colon == std::string::npos) {
    error = "--listen needs ADDR:PORT";
    return false;
  }
  std::string host = listen.substr(0, colon);
  if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), listen.substr(colon + 1).c_str(), &hints, &found) != 0 || !found) {
    error = "cannot use listen address " + listen;
    return false;
  }
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  return true;
}

}  // namespace

struct RelayServer::Impl {
  explicit Impl(const RelayOptions& given)
      : options(given),
        store(given.limits),
        identityRate(given.identitiesPerHour),
        deadlines(given.headSeconds, given.requestSeconds) {}

  MHD_Result OnRequest(MHD_Connection* connection, const char* url, const char* method, const char* data, size_t* size,
                       void** state) {
    auto* exchange = static_cast<Exchange*>(*state);
    const auto answer = [&](const RelayReply& reply) { return Answer(*exchange, reply, tls); };
    if (!exchange) {
      exchange = new Exchange;
      *state = exchange;
      exchange->view = {connection, method, url, ClientAddress(connection, tls), ""};
      deadlines.HeadComplete(connection);
      if (AmbiguousBodyLength(connection)) {
        RelayReply refusal = TextReply(400, "ambiguous body length");
        refusal.headers.emplace_back("Connection", "close");
        return answer(refusal);
      }
      if (exchange->view.method == "POST" && exchange->view.path == kPageUpload) {
        RelayReply refusal;
        exchange->upload = UploadSession::Begin(*context, exchange->view, refusal);
        // A document announced too large is refused before its body (a client that asked
        // "100-continue" never sends it). Other refusals wait for the end of the body: a
        // client cut off while it still sends may never read the answer.
        if (!exchange->upload && refusal.status == 413) return answer(refusal);
        if (!exchange->upload) exchange->refusal = std::move(refusal);
      }
      return MHD_YES;
    }
    if (*size > 0) {
      exchange->received += static_cast<long long>(*size);
      // Nothing of a refused upload is kept.
      const bool form = !exchange->upload && !exchange->refusal && !exchange->answered;
      if (exchange->upload)
        exchange->upload->Receive(data, *size);
      else if (form && exchange->view.body.size() + *size > kMaxFormBytes)
        exchange->formTooLarge = true;
      else if (form)
        exchange->view.body.append(data, *size);
      *size = 0;
      return MHD_YES;
    }
    if (exchange->answered) return MHD_YES;
    if (exchange->refusal) return answer(*exchange->refusal);
    if (exchange->upload) return answer(exchange->upload->Finish());
    if (exchange->formTooLarge) return answer(TextReply(413, "request too large"));
    const RequestView& view = exchange->view;
    return answer(view.path.starts_with(kRelayApiPrefix) ? HandleApi(*context, view) : HandleWeb(*context, view));
  }

  // Catches up on new jobs every second, writes the last-seen times that polls noted every
  // few seconds, and sweeps what expired (which writes them first) often enough that
  // expired bytes do not linger long past their job.
  void HousekeepingLoop() {
    const auto sweepInterval = std::chrono::seconds(std::clamp(options.limits.jobLifetime / 4, 1LL, 60LL));
    auto nextSweep = std::chrono::steady_clock::now();
    auto nextWrite = nextSweep;
    std::unique_lock lock(mutex);
    do {
      lock.unlock();
      store.CatchUpOnNewJobs();
      const auto turn = std::chrono::steady_clock::now();
      if (turn >= nextSweep) {
        const long long now = Now();
        for (const std::string& id : store.Sweep(now)) documents->Remove(id);
        // No job outlives its lifetime, and no upload the request time.
        documents->RemoveAbandoned(now - std::max(options.limits.jobLifetime, options.requestSeconds) -
                                   kOrphanGraceSeconds);
        nextSweep = std::chrono::steady_clock::now() + sweepInterval;
        nextWrite = turn + kSeenWriteInterval;
      } else if (turn >= nextWrite) {
        store.WriteSeenTimes();
        nextWrite = turn + kSeenWriteInterval;
      }
      lock.lock();
    } while (!wake.wait_for(lock, kCatchUpInterval, [this] { return stopping; }));
  }

  RelayOptions options;
  RelayStore store;
  std::unique_ptr<DocumentStore> documents;
  AddressRate identityRate;
  std::optional<RelayContext> context;  // once the storage is open
  RequestDeadlines deadlines;
  bool tls = false;
  std::string certificate, key;  // the daemons read these for as long as they run
  ConnectionAcceptor acceptor;
  // One per serving thread, each with the connections handed to it.
  std::vector<MHD_Daemon*> daemons;
  size_t nextDaemon = 0;

  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread housekeeper;
};

RelayServer::RelayServer() = default;
RelayServer::~RelayServer() { Stop(); }

bool RelayServer::Start(const RelayOptions& options, std::string& error) {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) == 0 && descriptors.rlim_cur != RLIM_INFINITY &&
      static_cast<long long>(descriptors.rlim_cur) < options.maxConnections + kSpareDescriptors) {
    error = "--max-connections " + std::to_string(options.maxConnections) +
            " needs more open files than the limit of " + std::to_string(descriptors.rlim_cur) + " (ulimit -n)";
    return false;
  }
  impl_ = std::make_unique<Impl>(options);
  Impl& impl = *impl_;
  const std::string database = options.database.empty() ? options.dataFolder + "/relay.sqlite" : options.database;
  // Beside PostgreSQL the bytes go into it too, so that relays on several machines share
  // nothing else; beside SQLite they are files in the data folder, which holds SQLite too.
  if (IsPostgresTarget(database)) {
    auto inDatabase = std::make_unique<DatabaseDocuments>(impl.store.Pool());
    if (!impl.store.Open(database, options.threads, error) || !inDatabase->Open(error)) return false;
    impl.documents = std::move(inDatabase);
  } else {
    auto folder = std::make_unique<DocumentFolder>();
    if (!folder->Open(options.dataFolder, error) || !impl.store.Open(database, options.threads, error)) return false;
    impl.documents = std::move(folder);
  }
  impl.context.emplace(impl.store, *impl.documents, impl.identityRate);

  sockaddr_storage address{};
  if (!ResolveListen(options.listen, address, error)) return false;
  if (!impl.acceptor.Listen(address, error)) {
    error = "cannot listen on " + options.listen + ": " + error;
    return false;
  }
  unsigned flags =
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG | MHD_USE_EPOLL | MHD_USE_NO_LISTEN_SOCKET | MHD_USE_ITC;
  impl.tls = !options.certFile.empty();
  if (impl.tls) {
    const auto certificate = ReadWholeFile(options.certFile);
    const auto key = ReadWholeFile(options.keyFile);
    if (!certificate || !key) {
      error = "cannot read the certificate or key";
      return false;
    }
    impl.certificate = *certificate;
    impl.key = *key;
    flags |= MHD_USE_TLS;
  }
  const MHD_AccessHandlerCallback onRequest = [](void* self, MHD_Connection* connection, const char* url,
                                                 const char* method, const char*, const char* data, size_t* size,
                                                 void** state) {
    return static_cast<Impl*>(self)->OnRequest(connection, url, method, data, size, state);
  };
  const MHD_RequestCompletedCallback onCompleted = [](void* self, MHD_Connection* connection, void** state,
                                                      MHD_RequestTerminationCode) {
    static_cast<Impl*>(self)->deadlines.RequestDone(connection);
    std::unique_ptr<Exchange> exchange(static_cast<Exchange*>(*state));
    *state = nullptr;
    if (exchange) LogRequest(*exchange);
  };
  const MHD_NotifyConnectionCallback onConnection = [](void* self, MHD_Connection* connection, void**,
                                                       MHD_ConnectionNotificationCode change) {
    Impl& impl = *static_cast<Impl*>(self);
    const auto* socket = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (change == MHD_CONNECTION_NOTIFY_STARTED && socket) impl.deadlines.Opened(connection, socket->connect_fd);
    if (change == MHD_CONNECTION_NOTIFY_CLOSED) {
      impl.deadlines.Closed(connection);
      const auto* client = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
      impl.acceptor.Closed(client ? client->client_addr : nullptr);
    }
  };
  for (int thread = 0; thread < options.threads; ++thread) {
    // Options only TLS needs come last, so MHD_OPTION_END cuts them off for plain HTTP.
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, onRequest, &impl, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(options.maxConnections), MHD_OPTION_NOTIFY_COMPLETED,
        onCompleted, &impl, MHD_OPTION_NOTIFY_CONNECTION, onConnection, &impl,
        impl.tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, impl.certificate.c_str(), MHD_OPTION_HTTPS_MEM_KEY,
        impl.key.c_str(), MHD_OPTION_HTTPS_PRIORITIES, kTlsPriorities, MHD_OPTION_END);
    if (!daemon) {
      error = "cannot start serving on " + options.listen;
      return false;
    }
    impl.daemons.push_back(daemon);
  }
  // Connections go to the serving threads in turn.
  impl.acceptor.Start(options.maxConnections, options.maxConnectionsPerAddress,
                      [&impl](int fd, const sockaddr* client, socklen_t length) {
                        MHD_Daemon* daemon = impl.daemons[impl.nextDaemon++ % impl.daemons.size()];
                        return MHD_add_connection(daemon, fd, client, length) == MHD_YES;
                      });
  impl.housekeeper = std::thread([&impl] { impl.HousekeepingLoop(); });
  return true;
}

int RelayServer::Port() const { return impl_ ? impl_->acceptor.Port() : 0; }

void RelayServer::Stop() {
  if (!impl_) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake.notify_all();
  if (impl_->housekeeper.joinable()) impl_->housekeeper.join();
  // No connection comes in while the daemons stop.
  impl_->acceptor.Stop();
  for (MHD_Daemon* daemon : impl_->daemons) MHD_stop_daemon(daemon);
  // No poll notes anything any more: the last batch holds every PC seen.
  if (!impl_->store.WriteSeenTimes()) {
    std::fprintf(stderr, "olvaro-relay: stopped without writing the last-seen times kept in memory\n");
  }
  impl_.reset();
}
