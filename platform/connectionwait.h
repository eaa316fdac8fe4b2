// Threads waiting together for what a server must do next: a connection on one of its
// listening sockets, or the next request on a connection kept open. Each event goes to
// one waiting thread: a listening socket is armed again after the accept its event led
// to; a connection is reported each time bytes arrive or it closes. No two threads wake
// for one event, and a thread that finds several ready takes them in one wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// False where the system cannot hand one event to one of several waiting threads or
// forget a socket closed under a wait (Windows): there one thread accepts for all and
// each kept connection's worker waits for its next request.
bool ThreadsCanWaitForConnectionsTogether();

// What a wait found.
struct ConnectionEvent {
  enum Kind { nothing, listener, connection } kind = nothing;
  int sock = -1;
  uint32_t tag = 0;  // a connection's, as watched
};

class CConnectionWait {
public:
  CConnectionWait();
  ~CConnectionWait();
  CConnectionWait(const CConnectionWait&) = delete;
  CConnectionWait& operator=(const CConnectionWait&) = delete;

  // Replaces the listening sockets waited on, all armed. A socket closed meanwhile is
  // forgotten.
  void Watch(const std::vector<int>& listeners);
  // Arms a listening socket again after the accept its event led to.
  void ArmListener(int sock);
  // Watches a connection until it is closed: each time bytes arrive or it closes, one
  // waiting thread is told, with `tag` (31 bits).
  bool WatchConnection(int sock, uint32_t tag);
  // Tells a waiting thread of a watched connection again if bytes wait on it.
  void Recheck(int sock, uint32_t tag);

  // Waits up to `timeoutMs` (0: only looks) for ready sockets and puts up to `most` of
  // them in `ready`; none after a notice, a stop, a time-out or a failure.
  void Wait(int timeoutMs, size_t most, std::vector<ConnectionEvent>& ready);
  // Wakes one waiting thread, or the next one to wait.
  void Notify();
  // Every wait from now on returns at once.
  void Stop();
  // Readable while an event waits, for a thread that polls it among other sockets.
  int Handle() const { return handle_; }

private:
  int handle_ = -1;
  int notice_ = -1;
  int stop_ = -1;
  std::vector<int> watched_;
};
