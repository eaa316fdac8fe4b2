// One epoll set shared by the waiting threads. Listening sockets are one-shot and
// connections edge-triggered, so each event goes to one thread and no other thread wakes
// for it; the notice is edge-triggered, so each notice wakes one thread; the stop stays
// readable, so it wakes every thread in turn.
#include "platform/connectionwait.h"

#include <algorithm>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr uint64_t kListenerBit = uint64_t{1} << 63;
constexpr uint32_t kTagMask = 0x7fffffff;
constexpr size_t kMostEvents = 32;

uint64_t SocketData(int sock, uint64_t high) { return high | static_cast<uint32_t>(sock); }

bool Control(int handle, int operation, int sock, uint32_t events, uint64_t data) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = data;
  return epoll_ctl(handle, operation, sock, &event) == 0;
}

constexpr uint32_t kConnectionEvents = EPOLLIN | EPOLLRDHUP | EPOLLET;

uint64_t ConnectionData(int sock, uint32_t tag) { return SocketData(sock, static_cast<uint64_t>(tag & kTagMask) << 32); }

}  // namespace

bool ThreadsCanWaitForConnectionsTogether() { return true; }

CConnectionWait::CConnectionWait()
    : handle_(epoll_create1(EPOLL_CLOEXEC)),
      notice_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      stop_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  Control(handle_, EPOLL_CTL_ADD, notice_, EPOLLIN | EPOLLET, SocketData(notice_, 0));
  Control(handle_, EPOLL_CTL_ADD, stop_, EPOLLIN, SocketData(stop_, 0));
}

CConnectionWait::~CConnectionWait() {
  for (const int handle : {handle_, notice_, stop_}) {
    if (handle != -1) close(handle);
  }
}

void CConnectionWait::Watch(const std::vector<int>& listeners) {
  // A closed socket has left the set by itself; removing it again fails harmlessly.
  for (const int sock : watched_) epoll_ctl(handle_, EPOLL_CTL_DEL, sock, nullptr);
  watched_.clear();
  for (const int sock : listeners) {
    if (Control(handle_, EPOLL_CTL_ADD, sock, EPOLLIN | EPOLLONESHOT, SocketData(sock, kListenerBit))) {
      watched_.push_back(sock);
    }
  }
}

void CConnectionWait::ArmListener(int sock) {
  Control(handle_, EPOLL_CTL_MOD, sock, EPOLLIN | EPOLLONESHOT, SocketData(sock, kListenerBit));
}

bool CConnectionWait::WatchConnection(int sock, uint32_t tag) {
  return Control(handle_, EPOLL_CTL_ADD, sock, kConnectionEvents, ConnectionData(sock, tag));
}

void CConnectionWait::Recheck(int sock, uint32_t tag) {
  // Modifying a socket's entry looks at it again, and reports it when it is readable.
  Control(handle_, EPOLL_CTL_MOD, sock, kConnectionEvents, ConnectionData(sock, tag));
}

void CConnectionWait::Wait(int timeoutMs, size_t most, std::vector<ConnectionEvent>& ready) {
  ready.clear();
  epoll_event events[kMostEvents];
  const int count = epoll_wait(handle_, events, static_cast<int>(std::min(most, kMostEvents)), timeoutMs);
  for (int i = 0; i < count; ++i) {
    const uint64_t data = events[i].data.u64;
    const int sock = static_cast<int>(static_cast<uint32_t>(data));
    if (sock == notice_ || sock == stop_) continue;
    if ((data & kListenerBit) != 0) {
      ready.push_back({ConnectionEvent::listener, sock, 0});
    } else {
      ready.push_back({ConnectionEvent::connection, sock, static_cast<uint32_t>(data >> 32)});
    }
  }
}

void CConnectionWait::Notify() {
  // A counter at its limit is no loss: a notice is pending already.
  [[maybe_unused]] const int result = eventfd_write(notice_, 1);
}

void CConnectionWait::Stop() { [[maybe_unused]] const int result = eventfd_write(stop_, 1); }
