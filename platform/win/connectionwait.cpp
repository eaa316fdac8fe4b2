// Windows has no exclusive wait on a listening socket, and closing a socket that another
// thread polls is not safe: the engine's listener accepts for every worker, and these
// waits are never entered.
#include "platform/connectionwait.h"

#include <windows.h>

bool ThreadsCanWaitForConnectionsTogether() { return false; }

CConnectionNotice::CConnectionNotice() = default;
CConnectionNotice::~CConnectionNotice() = default;
void CConnectionNotice::Send() const {}

CConnectionWait::CConnectionWait(const CConnectionNotice&) {}
CConnectionWait::~CConnectionWait() = default;
void CConnectionWait::Watch(const std::vector<int>& listeners) { watched_ = listeners; }

int CConnectionWait::Wait(int timeoutMs) {
  Sleep(static_cast<DWORD>(timeoutMs));
  return -1;
}
