#include "tests/support/httpsrelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

// Read before any test points TMPDIR at a folder of its own.
const std::string kProcessTempFolder = std::filesystem::temp_directory_path().string();

void RunOpenssl(const std::string& arguments) {
  const std::string command = "openssl " + arguments + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int BoundPort(int socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

}  // namespace

const TestCertificateAuthority& TestCertificateAuthority::Get() {
  static const TestCertificateAuthority authority = [] {
    TestCertificateAuthority made;
    std::string pattern = kProcessTempFolder + "/olvaro-test-ca.XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    made.folder = pattern + "/";
    made.caFile = made.folder + "ca.pem";
    made.certFile = made.folder + "server.pem";
    made.keyFile = made.folder + "server.key";
    const std::string caKey = made.folder + "ca.key";
    const std::string request = made.folder + "server.csr";
    const std::string extensions = made.folder + "server.ext";
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    RunOpenssl("req -x509 " + ec + "-keyout " + caKey + " -out " + made.caFile +
               " -days 2 -subj /CN=Olvaro-Test-CA -addext basicConstraints=critical,CA:TRUE"
               " -addext keyUsage=critical,keyCertSign,cRLSign");
    RunOpenssl("req -new " + ec + "-keyout " + made.keyFile + " -out " + request + " -subj /CN=127.0.0.1");
    std::ofstream(extensions) << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                 "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    RunOpenssl("x509 -req -in " + request + " -CA " + made.caFile + " -CAkey " + caKey +
               " -CAcreateserial -days 2 -out " + made.certFile + " -extfile " + extensions);
    return made;
  }();
  static const struct Cleanup {
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(authority.folder, ignored);
    }
  } cleanup;
  return authority;
}

std::string RelayRequest::Header(const std::string& lowerName) const {
  const auto found = headers.find(lowerName);
  return found == headers.end() ? std::string() : found->second;
}

// One accepted connection, over TLS or plain TCP.
struct TestRelayServer::Connection : RelayStream {
  TestRelayServer& server;
  int socket;
  SSL* tls = nullptr;

  Connection(TestRelayServer& owner, int fd) : server(owner), socket(fd) {}
  ~Connection() override {
    if (tls) SSL_free(tls);
  }

  bool Handshake() {
    if (!server.tls_) return true;
    tls = SSL_new(static_cast<SSL_CTX*>(server.tls_));
    SSL_set_fd(tls, socket);
    const bool ok = SSL_accept(tls) == 1;
    if (!ok) ERR_clear_error();
    return ok;
  }

  long Receive(char* buffer, size_t size) {
    if (tls) return SSL_read(tls, buffer, static_cast<int>(size));
    return recv(socket, buffer, size, 0);
  }

  bool Send(const char* data, size_t size) override {
    while (size > 0) {
      if (server.stopping_) return false;
      const long sent = tls ? SSL_write(tls, data, static_cast<int>(std::min<size_t>(size, 1 << 20)))
                            : send(socket, data, size, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      data += sent;
      size -= static_cast<size_t>(sent);
    }
    return true;
  }

  bool Pause(int milliseconds) override {
    std::unique_lock lock(server.mutex_);
    return !server.stopWake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                      [this] { return server.stopping_.load(); });
  }

  // Reads one request; false when the connection ends first.
  bool ReadRequest(RelayRequest& request) {
    std::string data;
    char buffer[16384];
    size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
      const long received = Receive(buffer, sizeof buffer);
      if (received <= 0) return false;
      data.append(buffer, static_cast<size_t>(received));
    }
    const std::string head = data.substr(0, headerEnd);
    const auto lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.rfind(' ');
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    for (size_t at = lineEnd; at != std::string::npos && at < head.size();) {
      const size_t start = at + 2;
      const auto end = head.find("\r\n", start);
      const std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
      const auto colon = line.find(':');
      if (colon != std::string::npos) {
        const auto valueStart = line.find_first_not_of(' ', colon + 1);
        request.headers[Lowered(line.substr(0, colon))] =
            valueStart == std::string::npos ? std::string() : line.substr(valueStart);
      }
      at = end;
    }
    request.body = data.substr(headerEnd + 4);
    const size_t length = std::strtoull(request.Header("content-length").c_str(), nullptr, 10);
    while (request.body.size() < length) {
      const long received = Receive(buffer, sizeof buffer);
      if (received <= 0) return false;
      request.body.append(buffer, static_cast<size_t>(received));
    }
    return true;
  }

  void Answer(const RelayResponse& response) {
    if (response.silent) {
      while (Pause(1000)) {
      }
      return;
    }
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) +
                       "\r\nConnection: close\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    const long long length = response.stream ? response.contentLength
                                             : static_cast<long long>(response.body.size());
    if (length >= 0) head += "Content-Length: " + std::to_string(length) + "\r\n";
    head += "\r\n";
    if (!Send(head.data(), head.size())) return;
    if (response.stream) response.stream(*this);
    else Send(response.body.data(), response.body.size());
  }
};

TestRelayServer::TestRelayServer(RelayHandler handler, Scheme scheme)
    : handler_(std::move(handler)), scheme_(scheme) {
  signal(SIGPIPE, SIG_IGN);  // a client that hangs up must not end the test program
  if (scheme_ == Scheme::Https) {
    const TestCertificateAuthority& authority = TestCertificateAuthority::Get();
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context || SSL_CTX_use_certificate_chain_file(context, authority.certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, authority.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
      SSL_CTX_free(context);
      throw std::runtime_error("cannot load the test certificate");
    }
    tls_ = context;
  }
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(0);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 64) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  port_ = BoundPort(listener_);
  acceptor_ = std::thread(&TestRelayServer::AcceptLoop, this);
}

TestRelayServer::~TestRelayServer() {
  Stop();
  SSL_CTX_free(static_cast<SSL_CTX*>(tls_));
}

std::string TestRelayServer::BaseUrl() const {
  return std::string(scheme_ == Scheme::Https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<RelayRequest> TestRelayServer::Requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

void TestRelayServer::Stop() {
  if (stopping_.exchange(true)) return;
  {
    const std::lock_guard lock(mutex_);
    for (int open : openSockets_) shutdown(open, SHUT_RDWR);
  }
  stopWake_.notify_all();
  shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  close(listener_);
  for (std::thread& worker : workers_) worker.join();
}

void TestRelayServer::AcceptLoop() {
  while (!stopping_) {
    const int accepted = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted < 0) continue;
    const std::lock_guard lock(mutex_);
    if (stopping_) {
      close(accepted);
      break;
    }
    openSockets_.push_back(accepted);
    workers_.emplace_back(&TestRelayServer::Serve, this, accepted);
  }
}

void TestRelayServer::Serve(int socket) {
  {
    Connection connection(*this, socket);
    RelayRequest request;
    if (connection.Handshake() && connection.ReadRequest(request)) {
      {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      connection.Answer(handler_(request));
      if (connection.tls) SSL_shutdown(connection.tls);
    }
  }
  const std::lock_guard lock(mutex_);
  openSockets_.erase(std::find(openSockets_.begin(), openSockets_.end(), socket));
  close(socket);
}

RefusingPort::RefusingPort() {
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(0);
  if (socket_ < 0 || bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot bind on loopback");
  }
  port_ = BoundPort(socket_);
}

RefusingPort::~RefusingPort() { close(socket_); }

std::string RefusingPort::BaseUrl(const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_);
}
