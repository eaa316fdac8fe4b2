#include "relay/deadlines.h"

#include <sys/socket.h>

RequestDeadlines::RequestDeadlines(long long headSeconds, long long requestSeconds)
    : head_(std::chrono::seconds(headSeconds)), request_(std::chrono::seconds(requestSeconds)),
      watcher_([this] { Watch(); }) {}

RequestDeadlines::~RequestDeadlines() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  watcher_.join();
}

void RequestDeadlines::Opened(MHD_Connection* connection, int fd) {
  std::lock_guard lock(mutex_);
  connections_[connection] = {fd, Clock::now()};
}

void RequestDeadlines::HeadComplete(MHD_Connection* connection) {
  std::lock_guard lock(mutex_);
  if (const auto found = connections_.find(connection); found != connections_.end()) found->second.headComplete = true;
}

void RequestDeadlines::RequestDone(MHD_Connection* connection) {
  std::lock_guard lock(mutex_);
  if (const auto found = connections_.find(connection); found != connections_.end()) {
    found->second.start = Clock::now();
    found->second.headComplete = false;
  }
}

void RequestDeadlines::Closed(MHD_Connection* connection) {
  std::lock_guard lock(mutex_);
  connections_.erase(connection);
}

void RequestDeadlines::Watch() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
    const auto now = Clock::now();
    for (auto& [connection, tracked] : connections_) {
      if (tracked.cut || now - tracked.start <= (tracked.headComplete ? request_ : head_)) continue;
      // The socket stays open until the server closes the connection (it is still listed
      // here until then): shutting it down makes the server's next read fail and close it.
      shutdown(tracked.fd, SHUT_RDWR);
      tracked.cut = true;
    }
  }
}
