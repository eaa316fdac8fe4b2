#include "platform/sockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

// POSIX sockets need no start-up.
bool StartSocketLibrary() { return true; }

int OpenListeningSocket(uint32_t ip, uint16_t& port, int backlog, std::string& error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(ip);
  address.sin_port = htons(port);
  const int on = 1;
  const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (sock == -1 || setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(sock, backlog) != 0) {
    error = strerror(errno);
    if (sock != -1) close(sock);
    return -1;
  }
  socklen_t length = sizeof address;
  if (getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0) port = ntohs(address.sin_port);
  return sock;
}

int AcceptConnection(int listener, uint32_t& remoteIp, uint16_t& remotePort) {
  sockaddr_in remote{};
  socklen_t length = sizeof remote;
  const int sock = accept4(listener, reinterpret_cast<sockaddr*>(&remote), &length, SOCK_CLOEXEC);
  if (sock == -1) return -1;
  remoteIp = ntohl(remote.sin_addr.s_addr);
  remotePort = ntohs(remote.sin_port);
  return sock;
}

int WaitUntilReadable(const std::vector<int>& sockets, std::vector<bool>& ready, int timeoutMs) {
  std::vector<pollfd> waiting;
  for (const int sock : sockets) waiting.push_back({sock, POLLIN, 0});
  const int count = poll(waiting.data(), waiting.size(), timeoutMs);
  ready.assign(sockets.size(), false);
  for (size_t i = 0; count > 0 && i < waiting.size(); ++i) ready[i] = waiting[i].revents != 0;
  return count < 0 && errno == EINTR ? 0 : count;
}

int ReceiveBefore(int sock, char* bytes, size_t length, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    // Bytes that are there already need no wait: one system call per chunk, not two.
    const ssize_t count = recv(sock, bytes, length, MSG_DONTWAIT);
    if (count >= 0) return static_cast<int>(count);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{sock, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready == 0 || (ready < 0 && errno != EINTR)) return -1;
  }
}

int ReceiveArrived(int sock, char* bytes, size_t length) {
  for (;;) {
    const ssize_t count = recv(sock, bytes, length, MSG_DONTWAIT);
    if (count >= 0) return static_cast<int>(count);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kNothingArrived : -1;
  }
}

int ReceiveWithin(int sock, char* bytes, size_t length, int timeoutMs, bool& waitSet) {
  // The connection blocks and its other reads pass MSG_DONTWAIT: a receive timeout makes
  // the wait and the read one call, where a poll and a read would be two.
  if (!waitSet) {
    const timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) return -1;
    waitSet = true;
  }
  for (;;) {
    const ssize_t count = recv(sock, bytes, length, 0);
    if (count >= 0) return static_cast<int>(count);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kNothingArrived : -1;
  }
}

size_t SendAll(int sock, const char* bytes, size_t length) {
  size_t sent = 0;
  while (sent < length) {
    // MSG_NOSIGNAL: a client that went away must not end the whole program.
    const ssize_t count = send(sock, bytes + sent, length - sent, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    sent += static_cast<size_t>(count);
  }
  return sent;
}

void ShutDownSocket(int sock, bool alsoWriting) { shutdown(sock, alsoWriting ? SHUT_RDWR : SHUT_RD); }
void EndSending(int sock) { shutdown(sock, SHUT_WR); }

void SendWithoutDelay(int sock) {
  const int on = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void FinishConnection(int sock) {
  // Closing a socket whose received bytes are all read ends it with FIN, not RST, so the
  // reply already sent is not thrown away: no shutdown first is needed.
  char drain[16384];
  while (recv(sock, drain, sizeof drain, MSG_DONTWAIT) > 0) {
  }
  close(sock);
}

void CloseSocket(int sock) { close(sock); }

// An event counter: readable while it is above zero.
int OpenWakeSocket() { return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

void WakeSocket(int sock) {
  // A counter at its limit wakes the wait all the same.
  [[maybe_unused]] const int result = eventfd_write(sock, 1);
}

void DrainWakeSocket(int sock) {
  eventfd_t count;
  [[maybe_unused]] const int result = eventfd_read(sock, &count);
}
