// Windows has no one-shot wait shared by threads, and closing a socket that another
// thread polls is not safe: the engine's listener accepts for every worker, and these
// waits are never entered.
#include "platform/connectionwait.h"

#include <windows.h>

bool ThreadsCanWaitForConnectionsTogether() { return false; }

CConnectionWait::CConnectionWait() = default;
CConnectionWait::~CConnectionWait() = default;
void CConnectionWait::Watch(const std::vector<int>& listeners) { watched_ = listeners; }
void CConnectionWait::ArmListener(int) {}
bool CConnectionWait::WatchConnection(int, uint32_t) { return false; }
void CConnectionWait::Recheck(int, uint32_t) {}

void CConnectionWait::Wait(int timeoutMs, size_t, std::vector<ConnectionEvent>& ready) {
  ready.clear();
  Sleep(static_cast<DWORD>(timeoutMs));
}

void CConnectionWait::Notify() {}
void CConnectionWait::Stop() {}
