// A PostgreSQL connection of its own that LISTENs on one channel, on a thread, and hands
// on the payload of each notification. Notifications sent while it does not listen are
// lost to it, so it says when it stops listening and when it listens again; after a
// loss it reconnects, waiting longer after each failed attempt.
#pragma once

#include <functional>
#include <string>
#include <thread>

struct pg_conn;

class PostgresListener {
public:
  struct Events {
    std::function<void(const std::string& payload)> notified;
    std::function<void()> listening;  // from now on every notification arrives
    std::function<void()> lost;       // from now on until `listening`, notifications may be missed
  };

  PostgresListener(std::string url, std::string channel, Events events);
  // Stops the thread.
  ~PostgresListener();
  PostgresListener(const PostgresListener&) = delete;
  PostgresListener& operator=(const PostgresListener&) = delete;

  // Connects and listens, then keeps listening on its thread; false with `error` when the
  // first connection fails.
  bool Start(std::string& error);

private:
  bool Connect(std::string& error);
  void Drop();
  void Run();
  // Waits for the connection to speak (or `timeoutMs` when there is none); false when
  // the listener is stopping.
  bool Wait(int timeoutMs) const;

  std::string url_;
  std::string channel_;
  Events events_;
  pg_conn* connection_ = nullptr;
  int stop_[2] = {-1, -1};  // written to stop the thread
  std::thread thread_;
};
