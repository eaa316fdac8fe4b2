// WSAPoll wakes every thread polling a listening socket, and has nothing to wait on
// beside sockets: the wait comes back at least every 50 ms, so that a notice is seen that
// soon without being sent.
#include "platform/connectionwait.h"

#include <algorithm>
#include <winsock2.h>

namespace {
constexpr int kNoticeDelayMs = 50;
}

CConnectionNotice::CConnectionNotice() = default;
CConnectionNotice::~CConnectionNotice() = default;
void CConnectionNotice::Send() const {}

CConnectionWait::CConnectionWait(const CConnectionNotice&) {}
CConnectionWait::~CConnectionWait() = default;

void CConnectionWait::Watch(const std::vector<int>& listeners) { watched_ = listeners; }

int CConnectionWait::Wait(int timeoutMs) {
  const int wait = std::clamp(timeoutMs, 0, kNoticeDelayMs);
  if (watched_.empty()) {
    Sleep(static_cast<DWORD>(wait));
    return -1;
  }
  std::vector<WSAPOLLFD> waiting;
  for (const int sock : watched_) waiting.push_back({static_cast<SOCKET>(sock), POLLRDNORM, 0});
  if (WSAPoll(waiting.data(), static_cast<ULONG>(waiting.size()), wait) <= 0) return -1;
  for (const WSAPOLLFD& entry : waiting) {
    if ((entry.revents & POLLRDNORM) != 0) return static_cast<int>(entry.fd);
  }
  return -1;
}
