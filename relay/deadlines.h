// Time limits on each request that a trickle of bytes cannot stretch: libmicrohttpd's own
// time-out counts only silence, so a client sending a byte now and then would hold its
// connection for ever. A watch thread cuts a connection whose request head is not complete
// within the head limit, or whose request (head, body and answer) outlives the request
// limit. The wait before a request on a kept-alive connection counts as part of its head.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

struct MHD_Connection;

class RequestDeadlines {
public:
  RequestDeadlines(long long headSeconds, long long requestSeconds);
  ~RequestDeadlines();
  RequestDeadlines(const RequestDeadlines&) = delete;
  RequestDeadlines& operator=(const RequestDeadlines&) = delete;

  // Called from the server's connection and request notifications.
  void Opened(MHD_Connection* connection, int fd);
  void HeadComplete(MHD_Connection* connection);
  void RequestDone(MHD_Connection* connection);
  void Closed(MHD_Connection* connection);

private:
  using Clock = std::chrono::steady_clock;
  struct Tracked {
    int fd;
    Clock::time_point start;  // of the request under way, or of the wait for the next one
    bool headComplete = false;
    bool cut = false;
  };
  void Watch();

  const Clock::duration head_;
  const Clock::duration request_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::unordered_map<MHD_Connection*, Tracked> connections_;
  std::thread watcher_;
};
