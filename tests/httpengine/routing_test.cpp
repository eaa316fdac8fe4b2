// Routing to URI handlers: decoding, normalisation, patterns, the handler table, headers.
#include "tests/httpengine/engine_fixture.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

using Routing = EngineTest;

constexpr std::string_view kNotFound =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 35\r\nConnection: close\r\n\r\n"
    "Error 404: Not Found\nFile not found";

TEST_F(Routing, EncodedRepeatedSlashAndQueryUrisReachTheHandler) {
  const std::pair<const char*, const char*> cases[] = {
      {"/print?x=1", "x=1"}, {"//print", "<none>"}, {"/%70rint", "<none>"}, {"/%70%72int?a=%41", "a=%41"},
      {"/..print", "<none>"}, {"/%2f%2Fprint", "<none>"}};
  for (const auto& [uri, query] : cases) {
    EXPECT_EQ(Exchange(std::string("GET ") + uri + " HTTP/1.1\r\n\r\n"), kHandlerReply) << uri;
    EXPECT_EQ(recorder_.Calls().back(), "end:GET /print") << uri;
    EXPECT_EQ(recorder_.query, query) << uri;
  }
}

TEST_F(Routing, NearMissesDoNotReachTheHandler) {
  for (const char* uri : {"/Print", "/print/", "/prin", "/printer", "/print%2f", "/%2570rint"}) {
    EXPECT_EQ(Exchange(std::string("GET ") + uri + " HTTP/1.1\r\n\r\n"), kNotFound) << uri;
  }
  EXPECT_TRUE(recorder_.Calls().empty());
}

TEST_F(Routing, OnlyPostAndPutCallTheBeginAndDataHandlers) {
  for (const char* method : {"GET", "DELETE", "HEAD"}) {
    EXPECT_EQ(Exchange(std::string(method) + " /print HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"), kHandlerReply);
  }
  EXPECT_EQ(Exchange("PUT /print HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"), kHandlerReply);
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"end:GET /print", "end:DELETE /print", "end:HEAD /print",
                                                         "begin", "data:3", "end:PUT /print"}));
}

TEST_F(Routing, StarPatternsMatchAnyRunAndTheFirstEntryWins) {
  Recorder other;
  mg_set_uri_handlers(ctx_, "/files/*.txt", nullptr, nullptr, RecordEnd, &other);
  mg_set_uri_handlers(ctx_, "/files/*", nullptr, nullptr, RecordEnd, &recorder_);
  mg_set_uri_handlers(ctx_, "/a*b*c", nullptr, nullptr, RecordEnd, &other);
  EXPECT_EQ(Exchange("GET /files/x/y.txt HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(Exchange("GET /files/.txt HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(Exchange("GET /files/y.txt2 HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(Exchange("GET /abxbc HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(Exchange("GET /abxb HTTP/1.1\r\n\r\n"), kNotFound);
  EXPECT_EQ(other.Calls(), (std::vector<std::string>{"end:GET /files/x/y.txt", "end:GET /files/.txt", "end:GET /abxbc"}));
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"end:GET /files/y.txt2"}));
}

TEST_F(Routing, TwentiethRegistrationIsRefusedAndLogged) {
  // The fixture registered two entries; seventeen more fill the table.
  for (int i = 0; i < 17; ++i) {
    mg_set_uri_handlers(ctx_, ("/h" + std::to_string(i)).c_str(), nullptr, nullptr, RecordEnd, &recorder_);
  }
  EXPECT_EQ(ErrorLog(), "");
  mg_set_uri_handlers(ctx_, "/refused", nullptr, nullptr, RecordEnd, &recorder_);
  EXPECT_EQ(LogLines(ErrorLog()), std::vector<std::string>{"[error] [client 0.0.0.0] Too many callbacks! Increase MAX_CALLBACKS."})
      << ErrorLog();
  EXPECT_EQ(Exchange("GET /h16 HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(Exchange("GET /print HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(Exchange("GET /refused HTTP/1.1\r\n\r\n"), kNotFound);
}

TEST_F(Routing, SixtyFourHeadersAreKeptInOrderAndTheRestIgnored) {
  std::string request = "POST /print HTTP/1.1\r\n";
  for (int i = 0; i < 64; ++i) request += "H" + std::to_string(i) + ":  v" + std::to_string(i) + "\r\n";
  request += "Content-Length: 0\r\n\r\n";
  // The 65th line is the length, so the request counts as having none.
  EXPECT_NE(Exchange(request).find("HTTP/1.1 411 Length Required"), std::string::npos);
  request = "POST /print HTTP/1.1\r\ncontent-LENGTH: 2\r\n";
  for (int i = 0; i < 70; ++i) request += "H" + std::to_string(i) + ": v" + std::to_string(i) + "\r\n";
  request += "\r\nok";
  EXPECT_EQ(Exchange(request), kHandlerReply);
  ASSERT_EQ(recorder_.headers.size(), 64u);
  EXPECT_EQ(recorder_.headers[0], (std::pair<std::string, std::string>{"content-LENGTH", "2"}));
  for (int i = 1; i < 64; ++i) {
    EXPECT_EQ(recorder_.headers[i].first, "H" + std::to_string(i - 1));
    EXPECT_EQ(recorder_.headers[i].second, "v" + std::to_string(i - 1));
  }
  EXPECT_EQ(recorder_.body, "ok");
}

TEST_F(Routing, HeaderLinesAreSplitAtColonsAndSpaces) {
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length::: 1\r\nX-Empty:\r\nX-Name: a: b c\nLast: z\r\n\r\n1"),
            kHandlerReply);
  EXPECT_EQ(recorder_.headers, (std::vector<std::pair<std::string, std::string>>{
                                   {"Content-Length", "1"}, {"X-Empty", ""}, {"X-Name", "a: b c"}, {"Last", "z"}}));
}

// The request record a handler sees: address, port, version, status code.
TEST_F(Routing, HandlersSeeTheClientAndTheVersion) {
  struct Seen {
    std::string address;
    int port = 0, major = 0, minor = 0, status = -1;
  };
  static Seen seen;
  mg_set_uri_handlers(ctx_, "/who", nullptr, nullptr, [](mg_conn* conn, const mg_request* request, void*) {
    seen = {dotted_address(request->remote_ip), request->remote_port, request->http_version_major,
            request->http_version_minor, request->status_code};
    EXPECT_EQ(static_cast<const void*>(conn), static_cast<const void*>(request));
    EXPECT_STREQ(mg_find_header(conn, "HOST"), "here");
    EXPECT_EQ(mg_find_header(conn, "Hos"), nullptr);
  }, nullptr);
  ClientSocket client = ConnectTo(port_, "127.0.0.7");
  sockaddr_in local{};
  socklen_t length = sizeof local;
  getsockname(client.fd(), reinterpret_cast<sockaddr*>(&local), &length);
  client.Send("GET /who HTTP/1.0\r\nHost: here\r\n\r\n");
  EXPECT_EQ(client.ReadAll(), "");
  EXPECT_EQ(seen.address, "127.0.0.7");
  EXPECT_EQ(seen.port, ntohs(local.sin_port));
  EXPECT_EQ(seen.major, 1);
  EXPECT_EQ(seen.minor, 0);
  EXPECT_EQ(seen.status, 0);
}

}  // namespace
