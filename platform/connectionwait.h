// Several threads waiting for connections on the same listening sockets, so that the
// thread that accepts a connection can serve it too. The system wakes one waiting thread
// a connection, not all of them; a notice wakes every one of them.
#pragma once

#include <vector>

// False where the system cannot wake one thread a connection or forget a socket closed
// under a wait (Windows): there one thread accepts for all.
bool ThreadsCanWaitForConnectionsTogether();

// Sent to every wait at once: each wait under way, or the next one of each thread that
// is not waiting, returns once.
class CConnectionNotice {
public:
  CConnectionNotice();
  ~CConnectionNotice();
  CConnectionNotice(const CConnectionNotice&) = delete;
  CConnectionNotice& operator=(const CConnectionNotice&) = delete;
  void Send() const;

private:
  friend class CConnectionWait;
  int handle_ = -1;
};

// One thread's wait. Belongs to the thread that made it.
class CConnectionWait {
public:
  explicit CConnectionWait(const CConnectionNotice& notice);
  ~CConnectionWait();
  CConnectionWait(const CConnectionWait&) = delete;
  CConnectionWait& operator=(const CConnectionWait&) = delete;

  // Replaces the listening sockets waited on. A socket closed meanwhile is forgotten.
  void Watch(const std::vector<int>& listeners);

  // Waits up to `timeoutMs` for a connection on one of the watched sockets or a notice:
  // the listening socket where a connection may wait (another thread may take it first),
  // -1 after a notice, a time-out or a failure.
  int Wait(int timeoutMs);

private:
  int handle_ = -1;
  std::vector<int> watched_;
};
