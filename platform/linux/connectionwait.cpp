// epoll: the listening sockets are exclusive, so a connection wakes one waiting thread;
// the notice is edge-triggered, so every wait sees each notice once without anyone
// reading it away.
#include "platform/connectionwait.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

bool ThreadsCanWaitForConnectionsTogether() { return true; }

CConnectionNotice::CConnectionNotice() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CConnectionNotice::~CConnectionNotice() {
  if (handle_ != -1) close(handle_);
}

void CConnectionNotice::Send() const {
  // A counter at its limit is no loss: every wait has a notice to see already.
  [[maybe_unused]] const int result = eventfd_write(handle_, 1);
}

CConnectionWait::CConnectionWait(const CConnectionNotice& notice) : handle_(epoll_create1(EPOLL_CLOEXEC)) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLET;
  event.data.fd = -1;
  epoll_ctl(handle_, EPOLL_CTL_ADD, notice.handle_, &event);
}

CConnectionWait::~CConnectionWait() {
  if (handle_ != -1) close(handle_);
}

void CConnectionWait::Watch(const std::vector<int>& listeners) {
  // A closed socket has left the set by itself; removing it again fails harmlessly.
  for (const int sock : watched_) epoll_ctl(handle_, EPOLL_CTL_DEL, sock, nullptr);
  watched_.clear();
  for (const int sock : listeners) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLEXCLUSIVE;
    event.data.fd = sock;
    if (epoll_ctl(handle_, EPOLL_CTL_ADD, sock, &event) == 0) watched_.push_back(sock);
  }
}

int CConnectionWait::Wait(int timeoutMs) {
  epoll_event event{};
  if (epoll_wait(handle_, &event, 1, timeoutMs) != 1) return -1;
  return event.data.fd;
}
