// The instance lock is flock() on a file in the settings folder, so one copy runs per user
// and settings folder whatever the session's runtime folder is; the show request is one
// line sent to a Unix socket beside the lock.
#include "platform/singleinstance.h"

#include "platform/filesystem.h"
#include "platform/linux/filedescriptor.h"
#include "platform/linux/userconfig.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

namespace {

constexpr char kShowRequest[] = "show\n";

// The settings folder ($XDG_CONFIG_HOME/Vostrel/), made when missing; empty when unusable.
std::string SettingsFolder() {
  const std::string config = GetUserConfigFolder();
  if (config.empty()) {
    return {};
  }
  const std::string folder = config + "Vostrel/";
  return MakeFolderPath(folder) ? folder : std::string();
}

// A private folder in /tmp for sockets whose settings folder has too long a path.
std::string ShortSocketFolder() {
  const std::string folder = "/tmp/olvaro-desktop-" + std::to_string(getuid());
  return EnsurePrivateFolder(folder) ? folder + "/" : std::string();
}

// FNV-1a: stable across runs and builds, unlike std::hash.
uint64_t PathKey(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (const unsigned char c : text) {
    hash = (hash ^ c) * 0x100000001b3ULL;
  }
  return hash;
}

bool FillSocketAddress(sockaddr_un& address, const std::string& path) {
  if (path.size() >= sizeof(address.sun_path)) {
    return false;
  }
  std::memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// The socket of the instance running on this settings folder: beside the lock, or, when
// that path is too long for a socket address, in /tmp under a name keyed by the folder.
bool ShowSocketAddress(sockaddr_un& address) {
  const std::string folder = SettingsFolder();
  if (folder.empty()) {
    return false;
  }
  if (FillSocketAddress(address, folder + "olvaro-desktop.sock")) {
    return true;
  }
  const std::string shortFolder = ShortSocketFolder();
  return !shortFolder.empty() &&
         FillSocketAddress(address, shortFolder + std::to_string(PathKey(folder)) + ".sock");
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = send(fd, data, size, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

struct CSingleInstance::State {
  FileDescriptor lock;
  FileDescriptor listener;
  FileDescriptor wakeRead;  // readable once the owner wants the thread to end
  FileDescriptor wakeWrite;
  std::string socketPath;
  std::function<void()> onShow;
  std::thread thread;

  void ServeShowRequests();
};

CSingleInstance::CSingleInstance() : state_(std::make_unique<State>()) {}

CSingleInstance::~CSingleInstance() {
  if (state_->thread.joinable()) {
    state_->wakeWrite.Reset();  // end of file on the wake pipe ends the thread
    state_->thread.join();
  }
  // The socket goes while the lock is still held: after that it may be another's.
  if (state_->listener.IsValid()) {
    unlink(state_->socketPath.c_str());
    state_->listener.Reset();
  }
  state_->lock.Reset();
}

bool CSingleInstance::Acquire() {
  const std::string folder = SettingsFolder();
  if (folder.empty()) {
    return true;
  }
  FileDescriptor lock(open((folder + "olvaro-desktop.lock").c_str(),
                           O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock.IsValid()) {
    return true;
  }
  int result;
  do {
    result = flock(lock.Get(), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    return errno != EWOULDBLOCK;
  }
  state_->lock = std::move(lock);
  return true;
}

bool CSingleInstance::ListenForShowRequests(std::function<void()> onShow) {
  sockaddr_un address;
  if (state_->thread.joinable() || !ShowSocketAddress(address)) {
    return false;
  }
  FileDescriptor listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener.IsValid()) {
    return false;
  }
  // A socket left by an instance that died is stale; we hold the lock, so it is ours.
  unlink(address.sun_path);
  if (bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener.Get(), 4) != 0) {
    return false;
  }
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) != 0) {
    return false;
  }
  state_->wakeRead = FileDescriptor(wake[0]);
  state_->wakeWrite = FileDescriptor(wake[1]);
  state_->listener = std::move(listener);
  state_->socketPath = address.sun_path;
  state_->onShow = std::move(onShow);
  state_->thread = std::thread([state = state_.get()] { state->ServeShowRequests(); });
  return true;
}

void CSingleInstance::State::ServeShowRequests() {
  for (;;) {
    pollfd watch[2] = {{wakeRead.Get(), POLLIN, 0}, {listener.Get(), POLLIN, 0}};
    if (poll(watch, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (watch[0].revents != 0) {
      return;
    }
    FileDescriptor client(accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.IsValid()) {
      continue;
    }
    // A start that sends anything else, or nothing within a second, is not a request.
    char request[sizeof(kShowRequest)] = {};
    size_t received = 0;
    pollfd reading{client.Get(), POLLIN, 0};
    while (received < sizeof(kShowRequest) - 1 && poll(&reading, 1, 1000) > 0) {
      const ssize_t got = recv(client.Get(), request + received,
                               sizeof(kShowRequest) - 1 - received, 0);
      if (got <= 0) {
        break;
      }
      received += static_cast<size_t>(got);
    }
    if (std::strcmp(request, kShowRequest) == 0) {
      onShow();
    }
  }
}

bool CSingleInstance::RequestShowFromRunningInstance() {
  sockaddr_un address;
  if (!ShowSocketAddress(address)) {
    return false;
  }
  FileDescriptor client(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return client.IsValid() &&
         connect(client.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
         WriteAll(client.Get(), kShowRequest, sizeof(kShowRequest) - 1);
}
