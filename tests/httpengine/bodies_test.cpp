// Request bodies streamed to the handlers: the 411, 417, 100-continue and 577 rules.
#include "tests/httpengine/engine_fixture.h"

#include <fstream>
#include <numeric>
#include <sys/socket.h>
#include <thread>

namespace {

using Bodies = EngineTest;

constexpr std::string_view k577 =
    "HTTP/1.1 577 Internal Server Error\r\nContent-Type: text/plain\r\nContent-Length: 57\r\nConnection: close\r\n\r\n"
    "Error 577: Internal Server Error\nError handling body data";

std::vector<int> DataLengths(const std::vector<std::string>& calls) {
  std::vector<int> lengths;
  for (const std::string& call : calls) {
    if (call.starts_with("data:")) lengths.push_back(std::stoi(call.substr(5)));
  }
  return lengths;
}

TEST_F(Bodies, PostWithoutLengthGets411AndNoHandler) {
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\n\r\nabc"),
            "HTTP/1.1 411 Length Required\r\nContent-Type: text/plain\r\nContent-Length: 27\r\nConnection: close\r\n\r\n"
            "Error 411: Length Required\n");
  EXPECT_TRUE(recorder_.Calls().empty());
  EXPECT_TRUE(HasLogLine(ErrorLog(), "127.0.0.1", "POST /print: Error 411: Length Required"));
}

TEST_F(Bodies, ExpectationOtherThanContinueGets417) {
  EXPECT_EQ(Exchange("PUT /info HTTP/1.1\r\nContent-Length: 1\r\nExpect: 200-ok\r\n\r\nx"),
            "HTTP/1.1 417 Expectation Failed\r\nContent-Type: text/plain\r\nContent-Length: 30\r\nConnection: close\r\n\r\n"
            "Error 417: Expectation Failed\n");
  EXPECT_TRUE(recorder_.Calls().empty());
}

TEST_F(Bodies, ContinueIsSentBeforeTheBeginHandlerRuns) {
  recorder_.hold = true;
  ClientSocket client = ConnectTo(port_);
  client.Send("POST /print HTTP/1.1\r\nContent-Length: 5\r\nExpect: 100-Continue\r\n\r\n");
  EXPECT_EQ(client.Read(25), "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_TRUE(recorder_.WaitForCalls(1));
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"begin"}));
  client.Send("hello");
  recorder_.Release();
  EXPECT_EQ(client.ReadAll(), kHandlerReply);
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"begin", "data:5", "end:POST /print"}));
  EXPECT_EQ(recorder_.body, "hello");
}

TEST_F(Bodies, ZeroLengthGivesOneEmptyDataCall) {
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"begin", "data:0", "end:POST /print"}));
}

TEST_F(Bodies, SurplusBytesAreNotBody) {
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: 4\r\n\r\nbodyGET / HTTP/1.1\r\n\r\n"), kHandlerReply);
  EXPECT_EQ(recorder_.body, "body");
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"begin", "data:4", "end:POST /print"}));
}

TEST_F(Bodies, LaterBodyArrivesInChunksOfAtMost512InOrder) {
  std::string body(10000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  ClientSocket client = ConnectTo(port_);
  client.Send("POST /print HTTP/1.1\r\nContent-Length: 10000\r\n\r\n");
  ASSERT_TRUE(recorder_.WaitForCalls(1));
  client.Send(body);
  EXPECT_EQ(client.ReadAll(), kHandlerReply);
  const auto calls = recorder_.Calls();
  const std::vector<int> lengths = DataLengths(calls);
  EXPECT_GE(lengths.size(), 20u);
  EXPECT_TRUE(std::all_of(lengths.begin(), lengths.end(), [](int n) { return n > 0 && n <= 512; }));
  EXPECT_EQ(std::accumulate(lengths.begin(), lengths.end(), 0), 10000);
  EXPECT_EQ(recorder_.body, body);
  EXPECT_EQ(calls.front(), "begin");
  EXPECT_EQ(calls.back(), "end:POST /print");
}

TEST_F(Bodies, PrefixThatCameWithTheHeadIsPassedFirst) {
  ClientSocket client = ConnectTo(port_);
  client.Send("POST /print HTTP/1.1\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'a'));
  ASSERT_TRUE(recorder_.WaitForCalls(2));
  client.Send(std::string(700, 'b'));
  EXPECT_EQ(client.ReadAll(), kHandlerReply);
  const std::vector<int> lengths = DataLengths(recorder_.Calls());
  ASSERT_GE(lengths.size(), 3u);
  EXPECT_EQ(lengths[0], 300);
  EXPECT_EQ(recorder_.body, std::string(300, 'a') + std::string(700, 'b'));
}

TEST_F(Bodies, BodyThatCameWithTheHeadIsAlsoPassedInChunksOfAtMost512) {
  const std::string body(5000, 'p');
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: 5000\r\n\r\n" + body), kHandlerReply);
  const std::vector<int> lengths = DataLengths(recorder_.Calls());
  EXPECT_TRUE(std::all_of(lengths.begin(), lengths.end(), [](int n) { return n > 0 && n <= 512; }));
  EXPECT_EQ(recorder_.body, body);
}

TEST_F(Bodies, ClientClosingEarlyGets577AndNoEnd) {
  ClientSocket client = ConnectTo(port_);
  client.Send("POST /print HTTP/1.1\r\nContent-Length: 100\r\n\r\n");
  ASSERT_TRUE(recorder_.WaitForCalls(1));
  client.Send(std::string(40, 'x'));
  shutdown(client.fd(), SHUT_WR);
  EXPECT_EQ(client.ReadAll(), k577);
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"begin", "data:40", "abort"}));
  EXPECT_TRUE(HasLogLine(ErrorLog(), "127.0.0.1", "POST /print: Error 577: Internal Server Error"));
}

// The engine answers a refused body with 577, unless the handler answered it: one
// connection gets one reply.
TEST_F(Bodies, RefusedLaterChunkGets577OrTheHandlersAnswer) {
  for (const bool answered : {false, true}) {
    recorder_.calls.clear();
    recorder_.answer_refusal = answered;
    recorder_.refuse_data_call = 1;
    ClientSocket client = ConnectTo(port_);
    client.Send("POST /print HTTP/1.1\r\nContent-Length: 2000\r\n\r\n");
    ASSERT_TRUE(recorder_.WaitForCalls(1));
    client.Send(std::string(2000, 'x'));
    EXPECT_EQ(client.ReadAll(), answered ? kRefusalReply : k577);
    const auto calls = recorder_.Calls();
    EXPECT_EQ(DataLengths(calls).size(), 2u);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "abort"), 1);
    EXPECT_EQ(calls.back(), "abort");
  }
}

TEST_F(Bodies, RefusedWholeBodyGets577OrTheHandlersAnswer) {
  for (const bool answered : {false, true}) {
    recorder_.calls.clear();
    recorder_.answer_refusal = answered;
    recorder_.refuse_data_call = 0;
    EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"), answered ? kRefusalReply : k577);
    EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"begin", "data:3", "abort"}));
  }
}

TEST_F(Bodies, RefusedPrefixWithMoreToComeEndsSilently) {
  recorder_.refuse_data_call = 0;
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: 30\r\n\r\nabc"), "");
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"begin", "data:3", "abort"}));
}

TEST_F(Bodies, BeginHandlerThatRefusesAnswersAlone) {
  recorder_.begin_result = 0;
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"), "");
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"begin"}));
}

TEST_F(Bodies, BodyToAnEntryWithoutDataHandlerIsDropped) {
  EXPECT_EQ(Exchange("POST /info HTTP/1.1\r\nContent-Length: 2000\r\n\r\n" + std::string(2000, 'x')), kHandlerReply);
  EXPECT_EQ(recorder_.Calls(), (std::vector<std::string>{"end:POST /info"}));
}

TEST_F(Bodies, LengthIsReadAsStrtoulDoes) {
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length:  3abc\r\n\r\nxyz"), kHandlerReply);
  EXPECT_EQ(recorder_.body, "xyz");
  recorder_.body.clear();
  EXPECT_EQ(Exchange("POST /print HTTP/1.1\r\nContent-Length: junk\r\n\r\nxyz"), kHandlerReply);
  EXPECT_EQ(recorder_.body, "");
}

TEST_F(Bodies, HeadForInfoSendsTheWholeHandlerReply) {
  EXPECT_EQ(Exchange("HEAD /info HTTP/1.1\r\n\r\n"), kHandlerReply);
}

TEST_F(Bodies, CurlUploadWithContinue) {
  const std::filesystem::path file = temp_ / "upload.bin";
  {
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < 300000; ++i) out.put(static_cast<char>(i % 251));
  }
  const std::string output = RunCommand("curl -s -o /dev/null -w '%{http_code}' -H 'Expect: 100-continue' --data-binary @" +
                                        file.string() + " http://127.0.0.1:" + std::to_string(port_) + "/print");
  EXPECT_EQ(output, "204");
  std::ifstream in(file, std::ios::binary);
  const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(recorder_.body, expected);
  EXPECT_EQ(recorder_.Calls().back(), "end:POST /print");
}

}  // namespace
