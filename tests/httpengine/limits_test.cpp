// Clients that send nothing, trickle, stall in a body, or open too many connections.
#include "tests/httpengine/engine_fixture.h"

#include <atomic>
#include <thread>

namespace {

class Limits : public EngineTest {
 protected:
  // A phone's requests while an attack runs: "/info" answers within a second, an upload completes.
  void ExpectPhoneServed() {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n", "127.0.9.1"), kHandlerReply);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + std::string(100000, 'u'), "127.0.9.2"),
              kHandlerReply);
  }
};

std::string Address(int block, int host) { return "127.0." + std::to_string(block) + "." + std::to_string(host); }

constexpr std::string_view k577Start = "HTTP/1.1 577 Internal Server Error\r\n";

TEST_F(Limits, SilentClientIsClosedThirtySecondsAfterTheAccept) {
  ASSERT_EQ(ctx_->head_deadline, kHeadDeadline);
  ClientSocket silent = ConnectTo(port_);
  const auto start = std::chrono::steady_clock::now();
  // Other clients are served meanwhile.
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_TRUE(silent.ClosedWithin(40s));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 29500ms);
  EXPECT_LE(waited, 33s);
  EXPECT_EQ(silent.ReadAll(1s), "");
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(Limits, TricklingClientIsClosedAtTheHeadDeadline) {
  ctx_->head_deadline = 1500ms;
  ClientSocket client = ConnectTo(port_);
  const auto start = std::chrono::steady_clock::now();
  const std::string head = "GET /info HTTP/1.1\r\nX-Slow: " + std::string(100, 'a');
  bool closed = false;
  for (char c : head) {
    if (!client.Send(std::string(1, c)) || client.ClosedWithin(100ms)) {
      closed = true;
      break;
    }
  }
  EXPECT_TRUE(closed);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 1400ms);
  EXPECT_LE(waited, 3s);
  EXPECT_TRUE(recorder_.Calls().empty());
}

TEST_F(Limits, HeadThatArrivesInTimeIsServed) {
  ctx_->head_deadline = 1500ms;
  ClientSocket client = ConnectTo(port_);
  client.Send("GET /info HTTP/1.1\r\n");
  std::this_thread::sleep_for(1s);
  client.Send("\r\n");
  EXPECT_EQ(client.ReadAll(), kHandlerReply);
}

TEST_F(Limits, StalledBodyGets577AfterTheInactivityLimit) {
  ctx_->body_idle_limit = 1s;
  ClientSocket client = ConnectTo(port_);
  client.Send("POST /print HTTP/1.1\r\nContent-Length: 100\r\n\r\n");
  // Pauses shorter than the limit are fine, however long the body takes.
  for (int i = 0; i < 4; ++i) {
    std::this_thread::sleep_for(600ms);
    client.Send("0123456789");
  }
  const auto last = std::chrono::steady_clock::now();
  const std::string reply = client.ReadAll();
  const auto waited = std::chrono::steady_clock::now() - last;
  EXPECT_TRUE(reply.starts_with(k577Start)) << reply;
  EXPECT_GE(waited, 900ms);
  EXPECT_LE(waited, 3s);
  EXPECT_EQ(recorder_.body, std::string("0123456789") + "0123456789" + "0123456789" + "0123456789");
  EXPECT_EQ(recorder_.Calls().front(), "begin");
  EXPECT_EQ(recorder_.Calls().back(), "abort");
}

TEST_F(Limits, StalledBodyGets577AfterSixtySeconds) {
  ASSERT_EQ(ctx_->body_idle_limit, kBodyIdleLimit);
  ClientSocket client = ConnectTo(port_);
  client.Send("POST /print HTTP/1.1\r\nContent-Length: 100\r\n\r\n0123456789");
  const auto start = std::chrono::steady_clock::now();
  const std::string reply = client.ReadAll(70s);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(reply.starts_with(k577Start)) << reply;
  EXPECT_GE(waited, 59500ms);
  EXPECT_LE(waited, 63s);
}

TEST_F(Limits, IdleConnectionsLeaveTheWorkersFree) {
  std::vector<ClientSocket> idle;
  for (int i = 0; i < 135; ++i) idle.push_back(ConnectTo(port_, Address(2, i % 59 + 1).c_str()));
  std::this_thread::sleep_for(300ms);
  ExpectPhoneServed();
}

TEST_F(Limits, TricklingBodiesLeaveWorkersForOthers) {
  std::vector<ClientSocket> slow;
  for (int i = 0; i < 128; ++i) {
    slow.push_back(ConnectTo(port_, Address(3, i / kMaxConnectionsPerAddress + 1).c_str()));
    slow.back().Send("POST /print HTTP/1.1\r\nContent-Length: 1000000\r\n\r\nx");
  }
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    for (int tick = 1; !done; ++tick) {
      std::this_thread::sleep_for(100ms);
      for (ClientSocket& client : slow) {
        if (tick % 10 == 0) client.Send("x");
      }
    }
  });
  std::this_thread::sleep_for(500ms);
  ExpectPhoneServed();
  done = true;
  trickle.join();
}

TEST_F(Limits, SlowBodiesMakeRoomForAWaitingUpload) {
  ASSERT_EQ(mg_set_option(ctx_, "max_threads", "3"), 1);
  ctx_->slow_body_grace = 1s;
  std::vector<ClientSocket> slow;
  for (int i = 1; i <= 3; ++i) {
    slow.push_back(ConnectTo(port_, Address(5, i).c_str()));
    slow.back().Send("POST /print HTTP/1.1\r\nContent-Length: 1000\r\n\r\nx");
  }
  std::this_thread::sleep_for(300ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", "127.0.5.9"), kHandlerReply);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  int cut = 0;
  for (ClientSocket& client : slow) cut += client.ReadAll(100ms).starts_with(k577Start);
  const auto calls = recorder_.Calls();
  EXPECT_GE(cut, 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "abort"), cut);
}

TEST_F(Limits, SixteenConnectionsPerAddress) {
  std::vector<ClientSocket> held;
  for (int i = 0; i < kMaxConnectionsPerAddress; ++i) held.push_back(ConnectTo(port_, "127.0.0.5"));
  ClientSocket refused = ConnectTo(port_, "127.0.0.5");
  EXPECT_TRUE(refused.ClosedWithin(5s));
  EXPECT_TRUE(WaitForLog("accept_new_connection: 127.0.0.5 has too many connections\n"));
  EXPECT_TRUE(HasLogLine(ErrorLog(), "0.0.0.0", "accept_new_connection: 127.0.0.5 has too many connections"));
  // Another address is not affected.
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n", "127.0.0.6"), kHandlerReply);
  // The held connections are still served.
  held.front().Send("GET /info HTTP/1.1\r\n\r\n");
  EXPECT_EQ(held.front().ReadAll(), kHandlerReply);
  // Its slot is free again once that connection is finished.
  std::string reply;
  for (int attempt = 0; attempt < 50 && reply.empty(); ++attempt) {
    reply = Exchange("GET /info HTTP/1.1\r\n\r\n", "127.0.0.5");
    if (reply.empty()) std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(reply, kHandlerReply);
}

}  // namespace
