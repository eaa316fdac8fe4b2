// Persistent entries: chunked request bodies, several requests on one connection,
// pipelining, and the limits of a kept connection.
#include "tests/httpengine/engine_fixture.h"

#include <atomic>
#include <thread>

namespace {

constexpr std::string_view kKeptReply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
constexpr std::string_view kChunkedReply =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
constexpr std::string_view k400 =
    "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 45\r\nConnection: close\r\n\r\n"
    "Error 400: Bad Request\nMalformed chunked body";
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

void ReplyInChunks(mg_conn* conn, const mg_request*, void*) {
  mg_send_formatted(conn, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  mg_send_chunk(conn, "hello", 5);
  mg_send_chunk(conn, " world", 6);
  mg_send_chunk(conn, nullptr, 0);
}

class Persistent : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    kept_.reply = kKeptReply;
    mg_set_uri_handlers(ctx_, "/ipp", RecordBegin, RecordData, RecordEnd, &kept_);
    ASSERT_EQ(mg_set_abort_handler(ctx_, "/ipp", RecordAbort, &kept_), 1);
    ASSERT_EQ(mg_set_uri_persistent(ctx_, "/ipp", 1), 1);
    mg_set_uri_handlers(ctx_, "/chunks", nullptr, nullptr, ReplyInChunks, nullptr);
    ASSERT_EQ(mg_set_uri_persistent(ctx_, "/chunks", 1), 1);
    EXPECT_EQ(mg_set_uri_persistent(ctx_, "/none", 1), 0);
  }
  void TearDown() override {
    kept_.Release();
    EngineTest::TearDown();
  }
  // Sends a request on the client and reads one reply of `reply`'s length.
  static std::string Ask(const ClientSocket& client, std::string_view request, std::string_view reply = kKeptReply) {
    client.Send(request);
    return client.Read(reply.size());
  }

  Recorder kept_;
};

std::string Chunked(const std::string& uri, const std::string& chunks) {
  return "POST " + uri + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks;
}

TEST_F(Persistent, RequestsFollowOneAnotherOnOneConnection) {
  ClientSocket client = ConnectTo(port_);
  EXPECT_EQ(Ask(client, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  EXPECT_EQ(Ask(client, "POST /ipp HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"), kKeptReply);
  // Extensions are ignored, trailers dropped; 100-continue as with a length.
  const std::string request = "POST /ipp HTTP/1.1\r\nExpect: 100-continue\r\nTransfer-Encoding: chunked\r\n\r\n"
                              "3;name=\"v\"\r\nabc\r\nA \r\n0123456789\r\n0\r\nX-Trailer: t\r\n\r\n";
  EXPECT_EQ(Ask(client, request, std::string(kContinue) + std::string(kKeptReply)),
            std::string(kContinue) + std::string(kKeptReply));
  EXPECT_EQ(Ask(client, "GET /chunks HTTP/1.1\r\n\r\n", kChunkedReply), kChunkedReply);
  // An entry that is not persistent answers as it always did, and closes.
  client.Send("GET /info HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadAll(), kHandlerReply);
  EXPECT_EQ(kept_.body, "helloabc0123456789");
  EXPECT_EQ(kept_.Calls(), (std::vector<std::string>{"end:GET /ipp", "begin", "data:5", "end:POST /ipp", "begin", "data:3",
                                                      "data:10", "end:POST /ipp"}));
}

TEST_F(Persistent, PipelinedRequestsAreServedInOrder) {
  ClientSocket client = ConnectTo(port_);
  // All in one packet: the next request starts in the head buffer...
  client.Send("POST /ipp HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody" + Chunked("/ipp", "4\r\nmore\r\n0\r\n\r\n") +
              "GET /ipp?third HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.Read(3 * kKeptReply.size()), std::string(kKeptReply) + std::string(kKeptReply) + std::string(kKeptReply));
  EXPECT_EQ(kept_.query, "third");
  // ... or in a body read from the socket.
  client.Send(Chunked("/ipp", ""));
  ASSERT_TRUE(kept_.WaitForCalls(6));
  client.Send(std::string("800\r\n") + std::string(2048, 'c') + "\r\n0\r\n\r\nPOST /ipp HTTP/1.1\r\nContent-Length: 3\r\n\r\nend");
  EXPECT_EQ(client.Read(2 * kKeptReply.size()), std::string(kKeptReply) + std::string(kKeptReply));
  client.Send("POST /ipp HTTP/1.1\r\nContent-Length: 3000\r\n\r\n");
  ASSERT_TRUE(kept_.WaitForCalls(11));
  client.Send(std::string(3000, 'l') + "GET /info HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadAll(), std::string(kKeptReply) + std::string(kHandlerReply));
  EXPECT_EQ(kept_.body, "bodymore" + std::string(2048, 'c') + "end" + std::string(3000, 'l'));
}

TEST_F(Persistent, ARequestBehindABodyLongerThanTheHeadBufferIsServed) {
  ClientSocket client = ConnectTo(port_);
  EXPECT_EQ(Ask(client, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  client.Send("POST /ipp HTTP/1.1\r\nContent-Length: 20000\r\n\r\n" + std::string(20000, 'x') +
              "GET /ipp?behind HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.Read(2 * kKeptReply.size(), 3s), std::string(kKeptReply) + std::string(kKeptReply));
  EXPECT_EQ(kept_.query, "behind");
}

TEST_F(Persistent, ChunkedBodyReachesTheDataHandlerInPiecesOfAtMost512) {
  std::string body(3000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 13);
  const std::string framed = "bae\r\n" + body.substr(0, 3000 - 10) + "\r\na\r\n" + body.substr(2990) + "\r\n0\r\n\r\n";
  ClientSocket client = ConnectTo(port_);
  client.Send(Chunked("/ipp", ""));
  ASSERT_TRUE(kept_.WaitForCalls(1));
  // Framing split anywhere between reads.
  for (size_t at = 0; at < framed.size(); at += 7) {
    client.Send(framed.substr(at, 7));
    if (at % 700 == 0) std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(client.Read(kKeptReply.size()), kKeptReply);
  EXPECT_TRUE(kept_.body == body);
  for (const std::string& call : kept_.Calls()) {
    if (call.starts_with("data:")) {
      EXPECT_LE(std::stoi(call.substr(5)), 512);
    }
  }
  // An empty chunked body is one data call of length 0, as an empty body with a length.
  kept_.calls.clear();
  EXPECT_EQ(Ask(client, Chunked("/ipp", "0\r\n\r\n")), kKeptReply);
  EXPECT_EQ(kept_.Calls(), (std::vector<std::string>{"begin", "data:0", "end:POST /ipp"}));
}

TEST_F(Persistent, MalformedChunkGets400AndEndsTheConnection) {
  std::string long_trailers = "0\r\n";
  for (int i = 0; i < 10; ++i) long_trailers += "X-T: " + std::string(1000, 't') + "\r\n";
  for (const std::string& chunks : {std::string("zz\r\n"), std::string("5\r\nhelloX\r\n0\r\n\r\n"), std::string(";x\r\n"),
                                    std::string("5\rhello"), "1;" + std::string(2000, 'e') + "\r\n", long_trailers,
                                    std::string("ffffffffffffffffff\r\n"), std::string("3\r\nabc\r\n0\r\nX\001\r\n\r\n")}) {
    kept_.calls.clear();
    EXPECT_EQ(Exchange(Chunked("/ipp", chunks)), k400) << chunks.substr(0, 40);
    const auto calls = kept_.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "begin");
    EXPECT_EQ(calls.back(), "abort");
  }
  EXPECT_TRUE(HasLogLine(ErrorLog(), "127.0.0.1", "POST /ipp: Error 400: Bad Request"));
}

TEST_F(Persistent, StalledBodyGets408AndEndsTheConnection) {
  ctx_->body_idle_limit = 1s;
  const std::string with_length = "POST /ipp HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc";
  for (const std::string& request : {Chunked("/ipp", "3\r\nabc\r\n"), with_length}) {
    kept_.calls.clear();
    ClientSocket client = ConnectTo(port_);
    client.Send(request);
    EXPECT_EQ(client.ReadAll().substr(0, 30), "HTTP/1.1 408 Request Timeout\r\n") << request;
    EXPECT_EQ(kept_.Calls().back(), "abort");
  }
}

TEST_F(Persistent, OtherEntriesAnswerChunkedBodiesAsBefore) {
  EXPECT_EQ(Exchange(Chunked("/print", "3\r\nabc\r\n0\r\n\r\n")),
            "HTTP/1.1 411 Length Required\r\nContent-Type: text/plain\r\nContent-Length: 27\r\nConnection: close\r\n\r\n"
            "Error 411: Length Required\n");
  EXPECT_TRUE(recorder_.Calls().empty());
  EXPECT_EQ(Exchange("POST /ipp HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n"),
            "HTTP/1.1 501 Not Implemented\r\nContent-Type: text/plain\r\nContent-Length: 49\r\nConnection: close\r\n\r\n"
            "Error 501: Not Implemented\nTransfer-Encoding gzip");
}

// Either side can ask for the close, and a reply whose end the client cannot find closes.
TEST_F(Persistent, ConnectionStaysOpenOnlyWhenBothSidesFrameAndKeepIt) {
  struct Case {
    std::string_view request;
    std::string_view reply;
    bool closes;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"GET /ipp HTTP/1.1\r\n\r\n", kKeptReply, false},
           {"HEAD /ipp HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", false},
           {"GET /ipp HTTP/1.1\r\n\r\n", "HTTP/1.1 204 No Content\r\n\r\n", false},
           {"GET /ipp HTTP/1.1\r\nConnection: keep-alive, Close\r\n\r\n", kKeptReply, true},
           {"GET /ipp HTTP/1.0\r\n\r\n", kKeptReply, true},
           {"GET /ipp HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok", true},
           {"GET /ipp HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\nok", true},
           {"GET /ipp HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nok", true},
           {"GET /ipp HTTP/1.1\r\nContent-Length: 2\r\n\r\nab", kKeptReply, true},
           {"POST /ipp HTTP/1.1\r\nContent-Length: 8\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", kKeptReply, true},
       }) {
    kept_.reply = c.reply;
    ClientSocket client = ConnectTo(port_);
    EXPECT_EQ(Ask(client, c.request, c.reply), c.reply) << c.request;
    EXPECT_EQ(client.ClosedWithin(c.closes ? 5s : 300ms), c.closes) << c.request << c.reply;
  }
}

TEST_F(Persistent, IdleConnectionIsClosedAtTheIdleLimit) {
  ctx_->keep_alive_idle = 1s;
  ClientSocket idle = ConnectTo(port_);
  EXPECT_EQ(Ask(idle, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(idle.ClosedWithin(5s));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 900ms);
  EXPECT_LE(waited, 3s);
  // Each request starts the limit again.
  ClientSocket busy = ConnectTo(port_);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Ask(busy, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
    std::this_thread::sleep_for(600ms);
  }
  // A next head that began has the head deadline, not the idle limit.
  ctx_->head_deadline = 1500ms;
  busy.Send("GET /ipp HTTP/1.1\r\n");
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(Ask(busy, "\r\n"), kKeptReply);
}

TEST_F(Persistent, ConnectionServesAtMostTheRequestCap) {
  ctx_->max_requests_per_connection = 3;
  kept_.reply_before_hold = true;  // line by line: the head's end comes alone
  ClientSocket client = ConnectTo(port_);
  std::string requests;
  for (int i = 0; i < 5; ++i) requests += "GET /ipp HTTP/1.1\r\n\r\n";
  client.Send(requests);
  // The last reply says that it is.
  EXPECT_EQ(client.ReadAll(), std::string(kKeptReply) + std::string(kKeptReply) +
                                  "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
  EXPECT_EQ(kept_.Calls().size(), 3u);
}

TEST_F(Persistent, IdleKeptConnectionsHoldNoWorker) {
  ASSERT_EQ(mg_set_option(ctx_, "max_threads", "2"), 1);
  std::vector<ClientSocket> kept;
  for (int i = 1; i <= 4; ++i) {
    kept.push_back(ConnectTo(port_, ("127.0.2." + std::to_string(i)).c_str()));
    EXPECT_EQ(Ask(kept.back(), "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n", "127.0.2.9"), kHandlerReply);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  for (ClientSocket& client : kept) EXPECT_EQ(Ask(client, "POST /ipp HTTP/1.1\r\nContent-Length: 1\r\n\r\nx"), kKeptReply);
}

TEST_F(Persistent, IdleKeptConnectionsLeaveTheirAddressShare) {
  ctx_->keep_alive_idle = 30s;
  std::vector<ClientSocket> kept;
  for (int i = 0; i < kMaxKeptPerAddress; ++i) {
    kept.push_back(ConnectTo(port_, "127.0.0.7"));
    ASSERT_EQ(Ask(kept.back(), "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  }
  // Once each has left its worker (where a worker waits a moment for the next request),
  // a connection beyond the kept ones its address may hold is served, then closed.
  std::this_thread::sleep_for(500ms);
  ClientSocket beyond = ConnectTo(port_, "127.0.0.7");
  EXPECT_EQ(Ask(beyond, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  EXPECT_TRUE(beyond.ClosedWithin(5s));
  for (ClientSocket& client : kept) EXPECT_EQ(Ask(client, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  // Kept connections their clients closed make room at once, not at the idle limit.
  kept.clear();
  std::this_thread::sleep_for(500ms);
  for (int i = 0; i < kMaxKeptPerAddress; ++i) {
    kept.push_back(ConnectTo(port_, "127.0.0.7"));
    ASSERT_EQ(Ask(kept.back(), "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  }
  EXPECT_FALSE(kept.back().ClosedWithin(300ms));
}

TEST_F(Persistent, KeptConnectionsAreServedWhileTheirWorkersAreBusy) {
  ClientSocket client = ConnectTo(port_, "127.0.2.1");
  EXPECT_EQ(Ask(client, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  // Long requests hold the workers that served and accepted until now.
  recorder_.hold = true;
  std::vector<ClientSocket> busy;
  for (int i = 2; i < 6; ++i) {
    busy.push_back(ConnectTo(port_, ("127.0.2." + std::to_string(i)).c_str()));
    busy.back().Send("GET /info HTTP/1.1\r\n\r\n");
  }
  {
    std::unique_lock lock(recorder_.lock);
    ASSERT_TRUE(recorder_.changed.wait_for(lock, 10s, [&] { return recorder_.ends_running == 4; }));
  }
  // Idle workers end after idle_time (10 s) when nothing wakes them for this request.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask(client, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  recorder_.Release();
  for (ClientSocket& other : busy) EXPECT_EQ(other.ReadAll(), kHandlerReply);
}

TEST_F(Persistent, ARequestThatCameWhileItsConnectionWasBusyIsServedNext) {
  constexpr std::string_view kEmptyReply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  kept_.reply = kEmptyReply;
  kept_.reply_before_hold = true;
  ClientSocket client = ConnectTo(port_);
  EXPECT_EQ(Ask(client, "GET /ipp HTTP/1.1\r\n\r\n", kEmptyReply), kEmptyReply);
  // Once its handler returned, the connection waits among the listening sockets; its next
  // handler replies and then holds it.
  ASSERT_TRUE(kept_.WaitForCalls(1));
  {
    std::lock_guard lock(kept_.lock);
    kept_.hold = true;
  }
  EXPECT_EQ(Ask(client, "GET /ipp HTTP/1.1\r\n\r\n", kEmptyReply), kEmptyReply);
  // The third request comes while the connection is still being served, and whoever waits
  // hears of it then.
  client.Send("GET /ipp HTTP/1.1\r\n\r\n");
  std::this_thread::sleep_for(300ms);
  kept_.Release();
  EXPECT_EQ(client.Read(kEmptyReply.size(), 3s), kEmptyReply);
}

TEST_F(Persistent, BusyKeptConnectionsMakeRoomForTheirAddress) {
  // Each of these sends its next request as soon as its reply came, as a benchmark does.
  std::atomic<bool> stop{false};
  std::atomic<int> failed{0};
  std::atomic<int> started{0};
  std::vector<std::thread> busy;
  for (int i = 0; i < kMaxConnectionsPerAddress; ++i) {
    busy.emplace_back([&] {
      ClientSocket client = ConnectTo(port_, "127.0.0.8");
      for (bool first = true; !stop.load(); first = false) {
        if (Ask(client, "GET /ipp HTTP/1.1\r\n\r\n") != kKeptReply) {
          ++failed;
          break;
        }
        if (first) ++started;
      }
    });
  }
  while (started.load() + failed.load() < kMaxConnectionsPerAddress) std::this_thread::sleep_for(10ms);
  ClientSocket next = ConnectTo(port_, "127.0.0.8");
  EXPECT_EQ(Ask(next, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  stop = true;
  for (std::thread& thread : busy) thread.join();
  EXPECT_EQ(failed.load(), 0);
}

TEST_F(Persistent, StopClosesIdleConnectionsAtOnce) {
  ClientSocket client = ConnectTo(port_);
  EXPECT_EQ(Ask(client, "GET /ipp HTTP/1.1\r\n\r\n"), kKeptReply);
  std::this_thread::sleep_for(100ms);
  const auto before = std::chrono::steady_clock::now();
  mg_stop(ctx_);
  ctx_ = nullptr;
  EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
  EXPECT_TRUE(client.ClosedWithin(1s));
}

}  // namespace
