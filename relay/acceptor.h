// The relay's listening socket and the one thread that accepts from it. A socket watched
// by every thread of a pool wakes them all for each new connection, and all but one find
// nothing; here one thread accepts and hands each connection to one of the serving
// threads in turn. The connection limits, in all and per client address, are kept here,
// since each serving thread sees only its own connections.
#pragma once

#include <sys/socket.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class ConnectionAcceptor {
public:
  // Takes an accepted connection (the socket is its own from then on, also on failure);
  // false when it could not.
  using HandOff = std::function<bool(int fd, const sockaddr* address, socklen_t length)>;

  ConnectionAcceptor() = default;
  ~ConnectionAcceptor();
  ConnectionAcceptor(const ConnectionAcceptor&) = delete;
  ConnectionAcceptor& operator=(const ConnectionAcceptor&) = delete;

  // Binds and listens on `address` (IPv6 takes IPv4 too); false with `error` set on failure.
  bool Listen(const sockaddr_storage& address, std::string& error);
  // The port it listens on.
  int Port() const;
  // Accepts until Stop, at most `total` connections open and `perAddress` from one address.
  void Start(long long total, long long perAddress, HandOff handOff);
  // Called once for each connection handed off, when it closes.
  void Closed(const sockaddr* address);
  void Stop();

private:
  void AcceptLoop();
  // True when a connection from `address` fits the limits; it is then counted.
  bool Admit(const std::string& address);
  void Forget(const std::string& address);

  int listener_ = -1;
  long long total_ = 0;
  long long perAddress_ = 0;
  HandOff handOff_;
  std::mutex mutex_;
  bool stopping_ = false;
  long long open_ = 0;
  std::map<std::string, long long> openFrom_;
  std::thread thread_;
};
