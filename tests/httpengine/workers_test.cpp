// Workers on demand, the connection queue with back-pressure, idle workers ending, stopping.
#include "tests/httpengine/engine_fixture.h"

#include <atomic>
#include <future>
#include <thread>

namespace {

class Workers : public EngineTest {
 protected:
  bool AllRunTogether(int count, std::chrono::milliseconds limit);
};

int QueuedCount(mg_ctx* ctx) {
  std::lock_guard lock(ctx->thread_lock);
  return ctx->queue_head - ctx->queue_tail;
}

// Each client from an address of its own, so the per-address limit stays out of the way.
std::string Source(int i) { return "127.0.1." + std::to_string(i + 1); }

TEST_F(Workers, BusyWorkersLeaveConnectionsQueuedAndTheFullQueueStopsAccepting) {
  ASSERT_EQ(mg_set_option(ctx_, "max_threads", "2"), 1);
  recorder_.hold = true;
  std::vector<ClientSocket> clients;
  for (int i = 0; i < 2; ++i) {
    clients.push_back(ConnectTo(port_, Source(i).c_str()));
    clients.back().Send("GET /info HTTP/1.1\r\n\r\n");
  }
  {
    std::unique_lock lock(recorder_.lock);
    ASSERT_TRUE(recorder_.changed.wait_for(lock, 10s, [&] { return recorder_.ends_running == 2; }));
  }
  // Twenty fill the queue; two more wait in the kernel's backlog, not accepted.
  for (int i = 2; i < 24; ++i) {
    clients.push_back(ConnectTo(port_, Source(i).c_str()));
    clients.back().Send("GET /info HTTP/1.1\r\n\r\n");
  }
  for (int wait = 0; wait < 100 && QueuedCount(ctx_) < 20; ++wait) std::this_thread::sleep_for(20ms);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(QueuedCount(ctx_), 20);
  EXPECT_EQ(WorkerCount(), 2);
  EXPECT_EQ(recorder_.Calls().size(), 0u);

  recorder_.Release();
  for (ClientSocket& client : clients) EXPECT_EQ(client.ReadAll(), kHandlerReply);
  EXPECT_EQ(recorder_.Calls().size(), 24u);
  EXPECT_LE(WorkerCount(), 2);
}

TEST_F(Workers, IdleWorkersEndAndNewOnesStart) {
  ASSERT_EQ(mg_set_option(ctx_, "idle_time", "1"), 1);
  EXPECT_EQ(WorkerCount(), 0);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(WorkerCount(), 1);
  // The idle wait runs out between idle_time and idle_time + 1 seconds.
  std::this_thread::sleep_for(800ms);
  EXPECT_EQ(WorkerCount(), 1);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (WorkerCount() != 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  EXPECT_EQ(WorkerCount(), 0);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(WorkerCount(), 1);
}

TEST_F(Workers, DefaultIdleTimeKeepsAWorkerAbout11Seconds) {
  ASSERT_EQ(mg_set_option(ctx_, "idle_time", "10"), 1);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
  const auto served = std::chrono::steady_clock::now();
  while (WorkerCount() != 0 && std::chrono::steady_clock::now() < served + 20s) std::this_thread::sleep_for(100ms);
  const auto idle = std::chrono::steady_clock::now() - served;
  EXPECT_EQ(WorkerCount(), 0);
  EXPECT_GE(idle, 9900ms);
  EXPECT_LE(idle, 12s);
}

// Sends `count` requests at once while the handlers are held; true when all of them
// were running together before the hold was released. Every client gets its reply.
bool Workers::AllRunTogether(int count, std::chrono::milliseconds limit) {
  recorder_.hold = true;
  std::vector<ClientSocket> clients;
  for (int i = 0; i < count; ++i) {
    clients.push_back(ConnectTo(port_, Source(i).c_str()));
    clients.back().Send("GET /info HTTP/1.1\r\n\r\n");
  }
  std::unique_lock lock(recorder_.lock);
  const bool together = recorder_.changed.wait_for(lock, limit, [&] { return recorder_.ends_running == count; });
  lock.unlock();
  recorder_.Release();
  for (ClientSocket& client : clients) EXPECT_EQ(client.ReadAll(), kHandlerReply);
  return together;
}

TEST_F(Workers, ConcurrentRequestsAreServedInParallel) { EXPECT_TRUE(AllRunTogether(30, 10s)); }

TEST_F(Workers, ConnectionsArrivingTogetherAtOneIdleWorkerAreServedAtOnce) {
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
  ASSERT_EQ(WorkerCount(), 1);
  // Neither connection may wait for the other.
  EXPECT_TRUE(AllRunTogether(2, 5s));
}

TEST_F(Workers, StopDoesNotWaitForIdleWorkers) {
  ASSERT_EQ(mg_set_option(ctx_, "idle_time", "30"), 1);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
  ASSERT_EQ(WorkerCount(), 1);
  const auto before = std::chrono::steady_clock::now();
  mg_stop(ctx_);
  ctx_ = nullptr;
  // Far below the 31 s the idle worker would otherwise wait; the stop polls once a second.
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

TEST_F(Workers, StopWaitsForRequestsInFlight) {
  recorder_.hold = true;
  ClientSocket client = ConnectTo(port_);
  client.Send("GET /info HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(recorder_.WaitForCalls(0));
  {
    std::unique_lock lock(recorder_.lock);
    ASSERT_TRUE(recorder_.changed.wait_for(lock, 10s, [&] { return recorder_.ends_running == 1; }));
  }
  auto stopped = std::async(std::launch::async, [this] { mg_stop(ctx_); });
  EXPECT_EQ(stopped.wait_for(2500ms), std::future_status::timeout);
  const auto released = std::chrono::steady_clock::now();
  recorder_.Release();
  EXPECT_EQ(client.ReadAll(), kHandlerReply);
  stopped.wait();
  ctx_ = nullptr;
  // idle_time 0: the worker's idle wait ends within a second, the stop poll within another.
  EXPECT_LT(std::chrono::steady_clock::now() - released, 4s);
}

TEST_F(Workers, StopCutsOffAnUploadThatGoesOn) {
  ClientSocket client = ConnectTo(port_);
  client.Send("POST /print HTTP/1.1\r\nContent-Length: 150\r\n\r\n");
  ASSERT_TRUE(recorder_.WaitForCalls(1));
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    while (!done && client.Send("x")) std::this_thread::sleep_for(100ms);
  });
  const auto before = std::chrono::steady_clock::now();
  mg_stop(ctx_);
  ctx_ = nullptr;
  const auto took = std::chrono::steady_clock::now() - before;
  done = true;
  trickle.join();
  EXPECT_LT(took, 10s);
  const auto calls = recorder_.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "abort"), 1);
  EXPECT_EQ(calls.back(), "abort");
}

}  // namespace
