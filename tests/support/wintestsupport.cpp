#include "tests/support/wintestsupport.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/sockets.h"
#include "platform/tempfolder.h"
#include "platform/win/widetext.h"

std::string RunAndCapture(const std::string& command) {
  std::string output;
  FILE* pipe = _wpopen(ToWide(command).c_str(), L"rb");
  if (!pipe) return output;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
  _pclose(pipe);
  return output;
}

WireClient::WireClient(int port) : sock_(INVALID_SOCKET) {
  StartSocketLibrary();
  sock_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<u_short>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connected_ =
      sock_ != INVALID_SOCKET && connect(sock_, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0;
}

WireClient::~WireClient() {
  if (sock_ != INVALID_SOCKET) closesocket(sock_);
}

bool WireClient::Send(const std::string& bytes) const {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int count = send(sock_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (count <= 0) return false;
    sent += static_cast<size_t>(count);
  }
  return true;
}

std::string WireClient::ReadAll(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string received;
  char buffer[65536];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    WSAPOLLFD entry{sock_, POLLRDNORM, 0};
    if (left.count() <= 0 || WSAPoll(&entry, 1, static_cast<INT>(left.count())) <= 0) break;
    const int got = recv(sock_, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

bool WireClient::ClosedWithin(std::chrono::milliseconds limit) const {
  WSAPOLLFD entry{sock_, POLLRDNORM, 0};
  if (WSAPoll(&entry, 1, static_cast<INT>(limit.count())) <= 0) return false;
  char byte;
  return recv(sock_, &byte, 1, MSG_PEEK) <= 0;
}

void WireClient::ShutdownSending() const { shutdown(sock_, SD_SEND); }

std::string Exchange(int port, const std::string& request) {
  WireClient client(port);
  client.Send(request);
  return client.ReadAll();
}

ScratchFolder::ScratchFolder() {
  std::random_device random;
  path_ = GetUserTempFolder() + "olvaro-test-" + std::to_string(random()) + "/";
  std::filesystem::create_directories(std::filesystem::u8path(path_));
}

ScratchFolder::~ScratchFolder() {
  std::error_code error;
  std::filesystem::remove_all(std::filesystem::u8path(path_), error);
}
