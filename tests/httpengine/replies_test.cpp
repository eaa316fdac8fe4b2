// The engine's own replies and log lines, byte for byte, through a real socket.
#include "tests/httpengine/engine_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/socket.h>

namespace {

constexpr std::string_view kLanding =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 68\r\nConnection: close\r\n\r\n"
    "Error 200: OK\nThis is Olvaro Desktop for printing using iPhone/iPad.";

using Replies = EngineTest;

TEST_F(Replies, LandingReplyForTheRootOverHttp11And10) {
  EXPECT_EQ(Exchange("GET / HTTP/1.1\r\nHost: x\r\n\r\n"), kLanding);
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), kLanding);
  EXPECT_EQ(Exchange("HEAD /?a=b HTTP/1.1\n\n"), kLanding);
  EXPECT_TRUE(HasLogLine(ErrorLog(), "127.0.0.1", "GET /: Error 200: OK")) << ErrorLog();
  EXPECT_TRUE(HasLogLine(ErrorLog(), "127.0.0.1", "HEAD /: Error 200: OK"));
}

TEST_F(Replies, LandingReplyThroughCurl) {
  const std::string body = RunCommand("curl -s http://127.0.0.1:" + std::to_string(port_) + "/");
  EXPECT_EQ(body, "Error 200: OK\nThis is Olvaro Desktop for printing using iPhone/iPad.");
}

TEST_F(Replies, HandlerReplyWrittenLineByLineArrivesWhileTheHandlerGoesOn) {
  recorder_.reply_before_hold = true;
  recorder_.hold = true;
  ClientSocket client = ConnectTo(port_);
  client.Send("GET /info HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.Read(kHandlerReply.size(), 5s), kHandlerReply);
  recorder_.Release();
  EXPECT_EQ(client.ReadAll(), "");
}

TEST_F(Replies, MalformedRequestLinesGet400QuotingTheBytes) {
  for (std::string request : {"OPTIONS / HTTP/1.1\r\n\r\n", "get / HTTP/1.1\r\n\r\n", "GET x HTTP/1.1\r\n\r\n",
                              "GET / HTTP/1.x\r\n\r\n", "GET / HTTP/1.1 extra\r\n\r\n", "GET / HTTP/1.\r\n\r\n",
                              "GET /\r\n\r\n"}) {
    const std::string body = "Error 400: Bad Request\nCan not parse request: [" + request + "]";
    EXPECT_EQ(Exchange(request), "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body)
        << request;
  }
  // No request part in the log line: the request was never understood.
  EXPECT_TRUE(HasLogLine(ErrorLog(), "127.0.0.1", "Error 400: Bad Request"));
}

TEST_F(Replies, The400BodyIsCutTo511Bytes) {
  const std::string request = "BREW /" + std::string(600, 'a') + " HTTP/1.1\r\n\r\n";
  const std::string reply = Exchange(request);
  const size_t body = reply.find("\r\n\r\n") + 4;
  EXPECT_EQ(reply.size() - body, 511u);
  EXPECT_NE(reply.find("Content-Length: 511\r\n"), std::string::npos);
}

TEST_F(Replies, UnsupportedVersionGets505) {
  constexpr std::string_view kBody = "Error 505: HTTP version not supported\nWeird HTTP version";
  for (const char* request : {"GET / HTTP/2.0\r\n\r\n", "GET / HTTP/1.2\r\n\r\n", "GET / HTTP/0.9\r\n\r\n",
                              "GET / HTTP/99999999999999999999.1\r\n\r\n"}) {
    EXPECT_EQ(Exchange(request), "HTTP/1.1 505 HTTP version not supported\r\nContent-Type: text/plain\r\n"
                                 "Content-Length: 56\r\nConnection: close\r\n\r\n" + std::string(kBody))
        << request;
  }
  EXPECT_TRUE(HasLogLine(ErrorLog(), "127.0.0.1", "GET /: Error 505: HTTP version not supported"));
}

TEST_F(Replies, BadHeadsAreClosedWithoutAReply) {
  EXPECT_EQ(Exchange("GET /\t HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(Exchange(std::string("GET / HTTP/1.1\r\nX: \x01\r\n\r\n")), "");
  EXPECT_EQ(Exchange(std::string("GET / HTTP/1.1\r\nX: \x7f\r\n\r\n")), "");
  EXPECT_EQ(Exchange(std::string("GET / HTTP/1.1\r\nX: a\0b\r\n\r\n", 25)), "");
  // 8192 bytes without the end of a head.
  EXPECT_EQ(Exchange("GET / HTTP/1.1\r\nX: " + std::string(8200, 'a') + "\r\n\r\n"), "");
  // The peer gives up half-way.
  {
    ClientSocket client = ConnectTo(port_);
    client.Send("GET / HTTP/1.1\r\n");
    shutdown(client.fd(), SHUT_WR);
    EXPECT_EQ(client.ReadAll(), "");
  }
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(Replies, HeadOfExactly8192BytesIsServed) {
  std::string request = "GET / HTTP/1.1\r\nX: ";
  request += std::string(8192 - request.size() - 4, 'a') + "\r\n\r\n";
  ASSERT_EQ(request.size(), 8192u);
  EXPECT_EQ(Exchange(request), kLanding);
}

TEST_F(Replies, BytesBeyondEighthBitAreAllowedInTheHead) {
  EXPECT_EQ(Exchange("GET / HTTP/1.1\r\nX-Name: \xc3\xa9t\xc3\xa9\r\n\r\n"), kLanding);
}

TEST_F(Replies, OnlyOneRequestPerConnection) {
  const std::string reply = Exchange("GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\nGET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(reply, kLanding);

  // Bytes that come after the head while the handler runs (here a body a GET announces)
  // are read away before the close: the reply ends with the connection's orderly end,
  // not with a reset that could take the reply with it.
  recorder_.hold = true;
  ClientSocket client = ConnectTo(port_);
  ASSERT_TRUE(client.Send("GET /info HTTP/1.1\r\nContent-Length: 5\r\n\r\n"));
  {
    std::unique_lock guard(recorder_.lock);
    ASSERT_TRUE(recorder_.changed.wait_for(guard, 10s, [this] { return recorder_.ends_running == 1; }));
  }
  ASSERT_TRUE(client.Send("hello"));
  recorder_.Release();
  std::string handler_reply;
  char buffer[4096];
  ssize_t got;
  while ((got = recv(client.fd(), buffer, sizeof buffer, 0)) > 0) handler_reply.append(buffer, static_cast<size_t>(got));
  EXPECT_EQ(handler_reply, kHandlerReply);
  EXPECT_EQ(got, 0) << strerror(errno);
}

TEST_F(Replies, DecodedControlBytesCannotBreakOrForgeLogLines) {
  ASSERT_EQ(mg_set_option(ctx_, "access_log", (temp_ / "access.log").c_str()), 1);
  const std::string reply = Exchange("GET /no%0d%0a[0000000001]%20[error]%20forged%7f HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 404 Not Found\r\n")) << reply;
  EXPECT_EQ(LogLines(ErrorLog()),
            std::vector<std::string>{"[error] [client 127.0.0.1] GET /no%0D%0A[0000000001] [error] forged%7F: "
                                     "Error 404: Not Found"})
      << ErrorLog();
  ASSERT_EQ(mg_set_option(ctx_, "access_log", nullptr), 1);
  std::ifstream file(temp_ / "access.log");
  const std::string access((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(access.find("] \"GET /no%0D%0A[0000000001] [error] forged%7F HTTP/1.1\" 404 "), std::string::npos) << access;
  EXPECT_EQ(std::count(access.begin(), access.end(), '\n'), 1);
}

TEST_F(Replies, TruncatedFormattedOutputIsLogged) {
  static std::string sent;
  mg_set_uri_handlers(ctx_, "/long", nullptr, nullptr, [](mg_conn* conn, const mg_request*, void*) {
    sent = std::string(9000, 'x');
    mg_send_formatted(conn, "%s", sent.c_str());
  }, nullptr);
  EXPECT_EQ(Exchange("GET /long HTTP/1.1\r\n\r\n"), std::string(8191, 'x'));
  EXPECT_TRUE(HasLogLine(ErrorLog(), "127.0.0.1", "GET /long: truncating vsnprintf buffer: [" + std::string(200, 'x') + "]"))
      << ErrorLog();
}

}  // namespace
