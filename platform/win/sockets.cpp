// Windows Sockets 2. Socket handles are small numbers that fit an int; INVALID_SOCKET
// becomes -1.
#include "platform/sockets.h"

#include <algorithm>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "platform/win/widetext.h"

namespace {

SOCKET Handle(int sock) { return static_cast<SOCKET>(sock); }

std::string SystemMessage(int error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? ToUtf8(text) : "error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

// Child processes must not hold the program's connections open.
void KeepFromChildren(SOCKET sock) { SetHandleInformation(reinterpret_cast<HANDLE>(sock), HANDLE_FLAG_INHERIT, 0); }

bool SetBlocking(SOCKET sock, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(sock, FIONBIO, &nonBlocking) == 0;
}

}  // namespace

bool StartSocketLibrary() {
  // WSAStartup once for the process; the library stays up until the process ends.
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

int OpenListeningSocket(uint32_t ip, uint16_t& port, int backlog, std::string& error) {
  if (!StartSocketLibrary()) {
    error = "the socket library cannot be started";
    return -1;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(ip);
  address.sin_port = htons(port);
  // Exclusive use: on Windows SO_REUSEADDR would let another program take the port over.
  const BOOL on = TRUE;
  const SOCKET sock = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (sock == INVALID_SOCKET ||
      setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
      bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(sock, backlog) != 0 ||
      !SetBlocking(sock, false)) {
    error = SystemMessage(WSAGetLastError());
    if (sock != INVALID_SOCKET) closesocket(sock);
    return -1;
  }
  KeepFromChildren(sock);
  int length = sizeof address;
  if (getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0) port = ntohs(address.sin_port);
  return static_cast<int>(sock);
}

int AcceptConnection(int listener, uint32_t& remoteIp, uint16_t& remotePort) {
  sockaddr_in remote{};
  int length = sizeof remote;
  const SOCKET sock = accept(Handle(listener), reinterpret_cast<sockaddr*>(&remote), &length);
  if (sock == INVALID_SOCKET) return -1;
  // An accepted socket takes the listener's non-blocking mode; reads wait in WSAPoll instead.
  KeepFromChildren(sock);
  SetBlocking(sock, true);
  remoteIp = ntohl(remote.sin_addr.s_addr);
  remotePort = ntohs(remote.sin_port);
  return static_cast<int>(sock);
}

int WaitUntilReadable(const std::vector<int>& sockets, std::vector<bool>& ready, int timeoutMs) {
  std::vector<WSAPOLLFD> waiting;
  for (const int sock : sockets) waiting.push_back({Handle(sock), POLLRDNORM, 0});
  const int count = WSAPoll(waiting.data(), static_cast<ULONG>(waiting.size()), timeoutMs);
  ready.assign(sockets.size(), false);
  for (size_t i = 0; count > 0 && i < waiting.size(); ++i) {
    ready[i] = (waiting[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
  }
  return count == SOCKET_ERROR ? -1 : count;
}

int ReceiveBefore(int sock, char* bytes, size_t length, std::chrono::steady_clock::time_point deadline) {
  const int wanted = static_cast<int>(std::min<size_t>(length, 0x7fffffff));
  for (;;) {
    // A hang-up or an error also counts as readable: recv then says which it was.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    WSAPOLLFD entry{Handle(sock), POLLRDNORM, 0};
    const int ready = WSAPoll(&entry, 1, static_cast<INT>(std::max<int64_t>(left.count(), 0)));
    if (ready == 0 || ready == SOCKET_ERROR) return -1;
    const int count = recv(Handle(sock), bytes, wanted, 0);
    if (count >= 0) return count;
    if (WSAGetLastError() != WSAEWOULDBLOCK && WSAGetLastError() != WSAEINTR) return -1;
  }
}

int ReceiveArrived(int sock, char* bytes, size_t length) {
  bool unused = false;
  return ReceiveWithin(sock, bytes, length, 0, unused);
}

int ReceiveWithin(int sock, char* bytes, size_t length, int timeoutMs, bool&) {
  // The connection blocks: recv only once the poll says something is there. (A receive
  // timeout that runs out leaves a Windows socket unusable, so none is set.)
  WSAPOLLFD entry{Handle(sock), POLLRDNORM, 0};
  const int ready = WSAPoll(&entry, 1, timeoutMs);
  if (ready == SOCKET_ERROR) return -1;
  if (ready == 0) return kNothingArrived;
  const int count = recv(Handle(sock), bytes, static_cast<int>(std::min<size_t>(length, 0x7fffffff)), 0);
  if (count >= 0) return count;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kNothingArrived : -1;
}

size_t SendAll(int sock, const char* bytes, size_t length) {
  size_t sent = 0;
  while (sent < length) {
    const int count = send(Handle(sock), bytes + sent, static_cast<int>(std::min<size_t>(length - sent, 0x7fffffff)), 0);
    if (count <= 0) break;
    sent += static_cast<size_t>(count);
  }
  return sent;
}

void ShutDownSocket(int sock, bool alsoWriting) { shutdown(Handle(sock), alsoWriting ? SD_BOTH : SD_RECEIVE); }
void EndSending(int sock) { shutdown(Handle(sock), SD_SEND); }

void SendWithoutDelay(int sock) {
  const BOOL on = TRUE;
  setsockopt(Handle(sock), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void FinishConnection(int sock) {
  shutdown(Handle(sock), SD_SEND);
  SetBlocking(Handle(sock), false);
  char drain[512];
  while (recv(Handle(sock), drain, sizeof drain, 0) > 0) {
  }
  closesocket(Handle(sock));
}

void CloseSocket(int sock) { closesocket(Handle(sock)); }

// A loopback datagram socket connected to itself: each wake is one datagram to itself.
int OpenWakeSocket() {
  if (!StartSocketLibrary()) return -1;
  const SOCKET sock = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (sock == INVALID_SOCKET) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || !SetBlocking(sock, false)) {
    closesocket(sock);
    return -1;
  }
  return static_cast<int>(sock);
}

void WakeSocket(int sock) {
  // A full buffer wakes the wait all the same.
  const char byte = 1;
  send(Handle(sock), &byte, 1, 0);
}

void DrainWakeSocket(int sock) {
  char bytes[64];
  while (recv(Handle(sock), bytes, sizeof bytes, 0) > 0) {
  }
}
