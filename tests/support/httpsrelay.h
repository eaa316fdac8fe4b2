// A small local web server for tests: HTTPS with a throw-away certificate authority, or
// plain HTTP. It listens on an ephemeral port of 127.0.0.1, answers every request with
// what the test's handler returns and records each request. Each connection runs on a
// thread of its own; the handler may be called on several at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A certificate authority made for one test program, with a certificate for 127.0.0.1
// and localhost that it signed. The files live in a temporary folder until exit.
class TestCertificateAuthority {
public:
  // The one authority of this process, made on first use; throws when openssl fails.
  static const TestCertificateAuthority& Get();

  std::string caFile;       // the authority's certificate (PEM): hand it to the client
  std::string certFile;     // the server's certificate (PEM)
  std::string keyFile;      // the server's key (PEM)
  std::string folder;
};

struct RelayRequest {
  std::string method;
  std::string target;                          // path and query exactly as sent
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::string Header(const std::string& lowerName) const;
};

// Lets a streaming answer write its body piece by piece.
class RelayStream {
public:
  virtual ~RelayStream() = default;
  // False once the client is gone or the server stops.
  virtual bool Send(const char* data, size_t size) = 0;
  // Waits `milliseconds`; false when the server stops meanwhile.
  virtual bool Pause(int milliseconds) = 0;
};

struct RelayResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // When set, writes the body instead of `body`; `contentLength` goes in the header
  // when it is not negative, otherwise the body ends with the connection.
  std::function<void(RelayStream&)> stream;
  long long contentLength = -1;
  // When set, nothing at all is sent: the connection stays open and silent until the
  // server stops.
  bool silent = false;
};

using RelayHandler = std::function<RelayResponse(const RelayRequest&)>;

class TestRelayServer {
public:
  enum class Scheme { Https, Http };

  explicit TestRelayServer(RelayHandler handler, Scheme scheme = Scheme::Https);
  ~TestRelayServer();
  TestRelayServer(const TestRelayServer&) = delete;
  TestRelayServer& operator=(const TestRelayServer&) = delete;

  int Port() const { return port_; }
  // "https://127.0.0.1:<port>" (or http).
  std::string BaseUrl() const;
  // Every complete request so far, in arrival order.
  std::vector<RelayRequest> Requests() const;
  void Stop();

private:
  struct Connection;
  void AcceptLoop();
  void Serve(int socket);

  RelayHandler handler_;
  Scheme scheme_;
  void* tls_ = nullptr;  // SSL_CTX*
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::condition_variable stopWake_;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<RelayRequest> requests_;
  std::vector<std::thread> workers_;
  std::vector<int> openSockets_;
};

// A loopback port that refuses connections: bound, never listening, held until destroyed.
class RefusingPort {
public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int Port() const { return port_; }
  std::string BaseUrl(const std::string& scheme = "https") const;

private:
  int socket_ = -1;
  int port_ = 0;
};
