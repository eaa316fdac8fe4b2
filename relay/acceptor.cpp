#include "relay/acceptor.h"

#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// The client's address as raw bytes, an IPv4 address within IPv6 as IPv4.
std::string AddressKey(const sockaddr* address) {
  if (address && address->sa_family == AF_INET) {
    const auto& ip = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    return std::string(reinterpret_cast<const char*>(&ip), sizeof ip);
  }
  if (address && address->sa_family == AF_INET6) {
    const auto& ip = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&ip)) return std::string(reinterpret_cast<const char*>(&ip) + 12, 4);
    return std::string(reinterpret_cast<const char*>(&ip), sizeof ip);
  }
  return "";
}

}  // namespace

ConnectionAcceptor::~ConnectionAcceptor() { Stop(); }

bool ConnectionAcceptor::Listen(const sockaddr_storage& address, std::string& error) {
  listener_ = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1, no = 0;
  const socklen_t length = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (listener_ < 0 || setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      (address.ss_family == AF_INET6 && setsockopt(listener_, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no) != 0) ||
      bind(listener_, reinterpret_cast<const sockaddr*>(&address), length) != 0 || listen(listener_, SOMAXCONN) != 0) {
    error = std::strerror(errno);
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    return false;
  }
  return true;
}

int ConnectionAcceptor::Port() const {
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (listener_ < 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
  if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

void ConnectionAcceptor::Start(long long total, long long perAddress, HandOff handOff) {
  total_ = total;
  perAddress_ = perAddress;
  handOff_ = std::move(handOff);
  thread_ = std::thread([this] { AcceptLoop(); });
}

void ConnectionAcceptor::AcceptLoop() {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
      }
      // Out of descriptors: the queue waits until connections close.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    const auto* client = reinterpret_cast<const sockaddr*>(&address);
    const std::string key = AddressKey(client);
    if (!Admit(key)) {
      close(fd);
      continue;
    }
    if (!handOff_(fd, client, length)) Forget(key);
  }
}

bool ConnectionAcceptor::Admit(const std::string& address) {
  std::lock_guard lock(mutex_);
  long long& fromThere = openFrom_[address];
  if (open_ >= total_ || fromThere >= perAddress_) {
    if (fromThere == 0) openFrom_.erase(address);
    return false;
  }
  ++open_;
  ++fromThere;
  return true;
}

void ConnectionAcceptor::Forget(const std::string& address) {
  std::lock_guard lock(mutex_);
  --open_;
  const auto found = openFrom_.find(address);
  if (found != openFrom_.end() && --found->second <= 0) openFrom_.erase(found);
}

void ConnectionAcceptor::Closed(const sockaddr* address) { Forget(AddressKey(address)); }

void ConnectionAcceptor::Stop() {
  if (listener_ < 0) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  // A blocked accept returns once its socket is shut down.
  shutdown(listener_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  close(listener_);
  listener_ = -1;
}
