// The HTTP engine on Windows Sockets: the wire cases of the Linux suite over real
// loopback connections, and what Windows adds (exclusive ports, uninherited handles).
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>
#include <windows.h>

#include "httpengine/engine-private.h"
#include "platform/md5.h"
#include "tests/support/wintestsupport.h"

namespace {

constexpr char kReply[] = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";

struct Calls {
  std::mutex lock;
  std::vector<int> chunks;
  std::string body;
};

int OnData(mg_conn*, const mg_request*, const char* bytes, int length, void* user) {
  auto* calls = static_cast<Calls*>(user);
  std::lock_guard guard(calls->lock);
  calls->chunks.push_back(length);
  calls->body.append(bytes, static_cast<size_t>(length));
  return 1;
}

void OnEnd(mg_conn* conn, const mg_request*, void*) { mg_send_formatted(conn, "%s", kReply); }

constexpr char kKeptReply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
void OnKeptEnd(mg_conn* conn, const mg_request*, void*) { mg_send_formatted(conn, "%s", kKeptReply); }

class WinEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = mg_start();
    ASSERT_NE(ctx_, nullptr);
    ASSERT_EQ(mg_set_option(ctx_, "error_log", (scratch_.Path() + "error.log").c_str()), 1);
    ASSERT_EQ(mg_set_option(ctx_, "ports", "127.0.0.1:0"), 1);
    mg_set_uri_handlers(ctx_, "/print", nullptr, OnData, OnEnd, &calls_);
    mg_set_uri_handlers(ctx_, "/info", nullptr, nullptr, OnEnd, &calls_);
    mg_set_uri_handlers(ctx_, "/ipp", nullptr, OnData, OnKeptEnd, &calls_);
    mg_set_uri_persistent(ctx_, "/ipp", 1);
    std::lock_guard lock(ctx_->option_locks[kOptionPorts]);
    port_ = ctx_->listeners.at(0).local.port;
  }
  void TearDown() override {
    if (ctx_) mg_stop(ctx_);
  }

  ScratchFolder scratch_;
  mg_ctx* ctx_ = nullptr;
  int port_ = 0;
  Calls calls_;
};

TEST_F(WinEngine, AnswersAndRefusesAsOnLinux) {
  EXPECT_EQ(Exchange(port_, "GET /info HTTP/1.1\r\n\r\n"), kReply);
  const std::string bad = Exchange(port_, "BREW /info HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(bad.starts_with("HTTP/1.1 400 Bad Request\r\n")) << bad;
  EXPECT_NE(bad.find("Can not parse request: [BREW /info HTTP/1.1\r\n\r\n]"), std::string::npos);
  EXPECT_TRUE(Exchange(port_, "GET /info HTTP/1.2\r\n\r\n").starts_with("HTTP/1.1 505 HTTP version not supported\r\n"));
}

TEST_F(WinEngine, LaterBodyArrivesInChunksOfAtMost512Bytes) {
  std::string body(10000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  WireClient client(port_);
  client.Send("POST /print HTTP/1.1\r\nContent-Length: 10000\r\n\r\n");
  std::this_thread::sleep_for(300ms);
  client.Send(body);
  EXPECT_EQ(client.ReadAll(), kReply);
  std::lock_guard guard(calls_.lock);
  EXPECT_EQ(calls_.body, body);
  EXPECT_GE(calls_.chunks.size(), 20u);
  for (const int chunk : calls_.chunks) EXPECT_LE(chunk, 512);
}

// A chunked body, then requests on the same connection: at once (pipelined), and after the
// connection waited for its next request at the listener.
TEST_F(WinEngine, KeptConnectionTakesChunkedBodiesAndNextRequests) {
  WireClient client(port_);
  client.Send("POST /ipp HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5;x\r\nhello\r\n0\r\nT: 1\r\n\r\nGET /ipp HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadAll(1s), std::string(kKeptReply) + kKeptReply);
  client.Send("GET /info HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadAll(), kReply);
  std::lock_guard guard(calls_.lock);
  EXPECT_EQ(calls_.body, "hello");
}

TEST_F(WinEngine, SilentAndStallingClientsAreCut) {
  ctx_->head_deadline = 1500ms;
  ctx_->body_idle_limit = 1s;
  WireClient silent(port_);
  const auto start = std::chrono::steady_clock::now();
  WireClient stalling(port_);
  stalling.Send("POST /print HTTP/1.1\r\nContent-Length: 100\r\n\r\n0123456789");
  EXPECT_TRUE(silent.ClosedWithin(5s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
  EXPECT_TRUE(stalling.ReadAll().starts_with("HTTP/1.1 577 Internal Server Error\r\n"));
}

TEST_F(WinEngine, SixteenConnectionsPerAddress) {
  std::vector<std::unique_ptr<WireClient>> held;
  for (int i = 0; i < kMaxConnectionsPerAddress; ++i) held.push_back(std::make_unique<WireClient>(port_));
  WireClient refused(port_);
  EXPECT_TRUE(refused.ClosedWithin(5s));
  held.front()->Send("GET /info HTTP/1.1\r\n\r\n");
  EXPECT_EQ(held.front()->ReadAll(), kReply);
}

TEST_F(WinEngine, PortIsExclusiveAndSocketsStayWithTheProgram) {
  mg_ctx* other = mg_start();
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(mg_set_option(other, "ports", ("127.0.0.1:" + std::to_string(port_)).c_str()), 0);
  mg_stop(other);

  std::lock_guard lock(ctx_->option_locks[kOptionPorts]);
  DWORD flags = 0;
  ASSERT_TRUE(
      GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<intptr_t>(ctx_->listeners.at(0).sock)), &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
}

TEST(WinMd5, DigestOfTheReferenceTexts) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
