// One running instance per user and settings folder: a lock held for the life of the
// process, and a local socket on which a later start asks the running instance to show
// itself.
// Acquire, ListenForShowRequests and destruction belong to the thread that owns the
// object; RequestShowFromRunningInstance may be called from any thread.
#pragma once

#include <functional>
#include <memory>

class CSingleInstance {
public:
  CSingleInstance();
  // Stops listening and releases the lock.
  ~CSingleInstance();
  CSingleInstance(const CSingleInstance&) = delete;
  CSingleInstance& operator=(const CSingleInstance&) = delete;

  // Takes the instance lock of this user's settings folder. False only when another
  // process holds it; a lock that cannot be made at all does not keep the program from
  // running.
  bool Acquire();

  // Serves show requests from later starts; `onShow` runs on a thread of this object,
  // once per request. False when the socket cannot be opened. On Windows later starts
  // restore the main window directly, and `onShow` is never called.
  bool ListenForShowRequests(std::function<void()> onShow);

  // Asks the instance that holds the lock to show itself; false when it cannot be reached.
  static bool RequestShowFromRunningInstance();

private:
  struct State;
  std::unique_ptr<State> state_;
};
