#include "platform/httpclient.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/newfile.h"
#include "platform/vendorservers.h"
#include "tests/cloud/relaytestenv.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

RelayResponse Text(const std::string& body, int status = 200) {
  RelayResponse response;
  response.status = status;
  response.body = body;
  return response;
}

RelayResponse Redirect(const std::string& location) {
  RelayResponse response;
  response.status = 302;
  response.headers = {{"Location", location}};
  return response;
}

// Sends `pieces` pieces of one byte, `gapMs` apart.
RelayResponse Trickle(int pieces, int gapMs) {
  RelayResponse response;
  response.contentLength = pieces;
  response.stream = [=](RelayStream& stream) {
    for (int i = 0; i < pieces; ++i) {
      if (!stream.Pause(gapMs) || !stream.Send("x", 1)) return;
    }
  };
  return response;
}

class HttpClientTest : public ::testing::Test {
protected:
  RelayTestEnvironment environment;
};

TEST_F(HttpClientTest, GetReturnsTheBodyAndSendsTheIndyUserAgent) {
  TestRelayServer server([](const RelayRequest&) { return Text("hello"); });
  CHttpClient http;
  const HttpResult result = http.Get(server.BaseUrl() + "/a/b?x=1");
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(result.text, "hello");
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(http.GetResponseCode(), 200);
  const RelayRequest request = server.Requests().at(0);
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/a/b?x=1");
  EXPECT_EQ(request.Header("user-agent"), "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_EQ(request.Header("host"), "127.0.0.1:" + std::to_string(server.Port()));
}

TEST_F(HttpClientTest, TextIsDecodedByTheDeclaredCharset) {
  TestRelayServer server([](const RelayRequest& request) {
    RelayResponse response = Text(request.target == "/latin" ? "caf\xE9" : "caf\xC3\xA9");
    response.headers = {{"Content-Type", request.target == "/latin" ? "text/plain; charset=ISO-8859-1"
                                                                    : "text/plain; charset=\"UTF-8\""}};
    return response;
  });
  CHttpClient http;
  EXPECT_EQ(http.Get(server.BaseUrl() + "/latin").text, "caf\xC3\xA9");
  EXPECT_EQ(http.Get(server.BaseUrl() + "/utf8").text, "caf\xC3\xA9");
}

TEST_F(HttpClientTest, PostSendsTheOrderedFormEncodedInUtf8) {
  TestRelayServer server([](const RelayRequest&) { return Text("done"); });
  CHttpClient http;
  const HttpResult result =
      http.Post(server.BaseUrl() + "/mark.php", {"uuid=a b&c", "file=x=y/\xC3\xA9+", "plain"});
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(result.text, "done");
  const RelayRequest request = server.Requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.Header("content-type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.body, "uuid=a+b%26c&file=x%3Dy%2F%C3%A9%2B&plain");
}

TEST_F(HttpClientTest, TheHostHeaderCanBeSetExplicitly) {
  TestRelayServer server([](const RelayRequest&) { return Text("1"); }, TestRelayServer::Scheme::Http);
  CHttpClient http;
  http.SetHost("update.example.org");
  ASSERT_TRUE(http.Get(server.BaseUrl() + "/up").ok());
  EXPECT_EQ(server.Requests().at(0).Header("host"), "update.example.org");
}

TEST_F(HttpClientTest, AnErrorStatusIsAFailureThatKeepsItsCode) {
  TestRelayServer server([](const RelayRequest&) { return Text("missing", 404); });
  CHttpClient http;
  const HttpResult result = http.Get(server.BaseUrl() + "/none");
  EXPECT_EQ(result.failure, HttpFailure::Status);
  EXPECT_EQ(result.status, 404);
  EXPECT_EQ(http.GetResponseCode(), 404);
  EXPECT_TRUE(result.text.empty());
}

TEST_F(HttpClientTest, AnUploadSendsTheFileWithTheCallersHeadersAndAKeptRefusalHasItsBodyAndFields) {
  TestRelayServer server([](const RelayRequest&) {
    RelayResponse response = Text("{\"error\":\"too large\"}", 413);
    response.headers = {{"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}};
    return response;
  });
  const std::string path = environment.Root() + "tmp/upload.bin";
  ASSERT_TRUE(WriteTestFile(path, "012345"));
  CHttpClient http;
  http.SetHeaders({"Cookie: t=1"});
  long long reported = 0;
  http.SetUploadProgress([&](long long sent, long long total) { reported = total == 6 ? sent : -1; });
  EXPECT_TRUE(http.PostFile(server.BaseUrl() + "/up", path).text.empty());  // not kept unless asked
  http.SetKeepErrorAnswers(true);
  const HttpResult kept = http.PostFile(server.BaseUrl() + "/up", path);
  EXPECT_EQ(kept.failure, HttpFailure::Status);
  EXPECT_EQ(kept.status, 413);
  EXPECT_EQ(kept.text, "{\"error\":\"too large\"}");
  EXPECT_EQ(kept.Header("set-cookie"), "a=1");
  EXPECT_EQ(std::count(kept.headers.begin(), kept.headers.end(), std::make_pair(std::string("set-cookie"), std::string("b=2"))), 1);
  EXPECT_EQ(reported, 6);
  const RelayRequest request = server.Requests().at(1);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.body, "012345");
  EXPECT_EQ(request.Header("cookie"), "t=1");
  EXPECT_EQ(request.Header("content-type"), "application/octet-stream");
  EXPECT_EQ(http.PostFile(server.BaseUrl() + "/up", path + ".missing").failure, HttpFailure::Other);
}

TEST_F(HttpClientTest, RedirectsAreFollowedOnlyWhenSwitchedOn) {
  TestRelayServer server([](const RelayRequest& request) {
    return request.target == "/old" ? Redirect("/new") : Text("moved here");
  });
  CHttpClient http;
  const HttpResult refused = http.Get(server.BaseUrl() + "/old");
  EXPECT_EQ(refused.failure, HttpFailure::Status);
  EXPECT_EQ(refused.status, 302);

  http.SetFollowRedirects(true);
  const HttpResult followed = http.Get(server.BaseUrl() + "/old");
  ASSERT_TRUE(followed.ok()) << followed.error;
  EXPECT_EQ(followed.text, "moved here");

  // From https, never on to clear text: the plain server is not even asked.
  TestRelayServer plain([](const RelayRequest&) { return Text("in clear"); }, TestRelayServer::Scheme::Http);
  TestRelayServer downgrading([&plain](const RelayRequest&) { return Redirect(plain.BaseUrl() + "/doc"); });
  EXPECT_FALSE(http.Get(downgrading.BaseUrl() + "/doc").ok());
  EXPECT_TRUE(plain.Requests().empty());
}

TEST_F(HttpClientTest, AtMostFifteenRedirectsAreFollowed) {
  // /hop/N redirects to /hop/N-1; /hop/0 answers.
  TestRelayServer server([](const RelayRequest& request) {
    const int hops = std::stoi(request.target.substr(5));
    return hops == 0 ? Text("arrived") : Redirect("/hop/" + std::to_string(hops - 1));
  });
  CHttpClient http;
  http.SetFollowRedirects(true);
  EXPECT_EQ(http.Get(server.BaseUrl() + "/hop/15").text, "arrived");
  EXPECT_FALSE(http.Get(server.BaseUrl() + "/hop/16").ok());
}

TEST_F(HttpClientTest, TheReadTimeOutLimitsSilenceNotTheWholeTransfer) {
  TestRelayServer server([](const RelayRequest& request) {
    return request.target == "/stall" ? Trickle(1, 3500) : Trickle(6, 500);
  });
  CHttpClient http;
  http.SetReadTimeout(2000);

  const auto start = Clock::now();
  const HttpResult stalled = http.Get(server.BaseUrl() + "/stall");
  const auto waited = Clock::now() - start;
  EXPECT_EQ(stalled.failure, HttpFailure::Timeout);
  EXPECT_GE(waited, 1900ms);
  EXPECT_LT(waited, 3300ms);

  // Three seconds in all, but never more than half a second without a byte.
  const HttpResult trickled = http.Get(server.BaseUrl() + "/trickle");
  ASSERT_TRUE(trickled.ok()) << trickled.error;
  EXPECT_EQ(trickled.text, "xxxxxx");
}

TEST_F(HttpClientTest, TheTotalTimeOutEndsABodyThatNeverStopsTrickling) {
  TestRelayServer server([](const RelayRequest&) { return Trickle(100, 100); });
  CHttpClient http;
  http.SetTotalTimeout(1000);
  const auto start = Clock::now();
  EXPECT_EQ(http.Get(server.BaseUrl() + "/trickle").failure, HttpFailure::Timeout);
  EXPECT_LT(Clock::now() - start, 3000ms);
}

TEST_F(HttpClientTest, CancelEndsTheRequestUnderWayAndEveryLaterOne) {
  TestRelayServer server([](const RelayRequest&) { return Trickle(1, 20000); });
  CHttpClient http;
  std::thread canceller([&] {
    for (int i = 0; i < 1000 && server.Requests().empty(); ++i) std::this_thread::sleep_for(10ms);
    http.Cancel();
  });
  const auto start = Clock::now();
  EXPECT_EQ(http.Get(server.BaseUrl() + "/hang").failure, HttpFailure::Cancelled);
  EXPECT_LT(Clock::now() - start, 2000ms);
  canceller.join();
  EXPECT_EQ(http.Post(server.BaseUrl() + "/later", {}).failure, HttpFailure::Cancelled);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(HttpClientTest, ATextAnswerOverOneMebibyteIsRefused) {
  const long long limit = CHttpClient::kMaxTextBody;
  TestRelayServer server([limit](const RelayRequest& request) {
    if (request.target == "/fits") return Text(std::string(limit, 'q'));
    if (request.target == "/announced") return Text(std::string(limit + 1, 'q'));
    return EndlessBody();
  });
  CHttpClient http;
  EXPECT_EQ(http.Get(server.BaseUrl() + "/fits").text.size(), static_cast<size_t>(limit));
  EXPECT_EQ(http.Get(server.BaseUrl() + "/announced").failure, HttpFailure::TooLarge);
  EXPECT_EQ(http.Get(server.BaseUrl() + "/endless").failure, HttpFailure::TooLarge);
}

TEST_F(HttpClientTest, ARefusedConnectionIsAConnectFailure) {
  RefusingPort port;
  CHttpClient http;
  const HttpResult result = http.Get(port.BaseUrl() + "/x");
  EXPECT_EQ(result.failure, HttpFailure::Connect);
  EXPECT_EQ(result.status, 0);
}

TEST_F(HttpClientTest, AServerTheClientDoesNotTrustIsATlsFailure) {
  TestRelayServer server([](const RelayRequest&) { return Text("secret"); });
  unsetenv("CURL_CA_BUNDLE");
  CHttpClient http;
  const HttpResult result = http.Get(server.BaseUrl() + "/x");
  EXPECT_EQ(result.failure, HttpFailure::Tls);
  EXPECT_TRUE(result.text.empty());
  EXPECT_TRUE(server.Requests().empty());
}

class HttpDownloadTest : public HttpClientTest {
protected:
  std::string Path(const std::string& name) const { return environment.Root() + "tmp/" + name; }
};

TEST_F(HttpDownloadTest, TheBodyStreamsIntoTheFile) {
  std::string document(300000, '\0');
  for (size_t i = 0; i < document.size(); ++i) document[i] = static_cast<char>(i * 7 % 251);
  TestRelayServer server([&](const RelayRequest&) { return Text(document); });
  CHttpClient http;
  CNewFile file = CNewFile::Create(Path("doc.bin"));
  ASSERT_TRUE(http.Get(server.BaseUrl() + "/doc", file, document.size()).ok());
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(ReadTestFile(Path("doc.bin")), document);

  // One byte more than allowed is a failed download.
  CNewFile shorter = CNewFile::Create(Path("short.bin"));
  EXPECT_EQ(http.Get(server.BaseUrl() + "/doc", shorter, document.size() - 1).failure, HttpFailure::TooLarge);
}

TEST_F(HttpDownloadTest, AFileThatCannotTakeTheBodyIsAWriteFailure) {
  TestRelayServer server([](const RelayRequest&) { return Text(std::string(64 * 1024, 'd')); });
  CHttpClient http;
  CNewFile file = CNewFile::Create(Path("full.bin"));
  // The file-size limit makes write() fail with EFBIG once 1 KiB is written.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit tight = saved;
  tight.rlim_cur = 1024;
  setrlimit(RLIMIT_FSIZE, &tight);
  const HttpResult result = http.Get(server.BaseUrl() + "/doc", file, 1 << 20);
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(result.failure, HttpFailure::Write);

  CNewFile closed;
  EXPECT_EQ(http.Get(server.BaseUrl() + "/doc", closed, 1 << 20).failure, HttpFailure::Write);
}

TEST(VendorServersTest, VariablesOverrideTheBuiltInAddresses) {
  setenv("OLVARO_API_URL", "https://127.0.0.1:8443//", 1);
  EXPECT_EQ(GetApiServerBase(), "https://127.0.0.1:8443");
  setenv("OLVARO_API_URL", "", 1);
  EXPECT_EQ(GetApiServerBase().rfind("https://", 0), 0u);
  unsetenv("OLVARO_API_URL");
  setenv("OLVARO_UPDATE_URL", "http://127.0.0.1:8080/mirror", 1);
  EXPECT_EQ(GetUpdateServerBase(), "http://127.0.0.1:8080/mirror");
  EXPECT_EQ(GetServerHost(GetUpdateServerBase()), "127.0.0.1:8080");
  unsetenv("OLVARO_UPDATE_URL");
  EXPECT_EQ(GetServerHost("http://update.example.org"), "update.example.org");
}

TEST(UrlEncodeTest, QueryKeepsSeparatorsAndEscapesTheListedCharacters) {
  EXPECT_EQ(UrlEncode("https://h:1/p/desktop.php?uuid=0&ips=192.168.1.5%2C10.0.0.2&nh=iWork,PDF"),
            "https://h:1/p/desktop.php?uuid=0&ips=192.168.1.5%252C10.0.0.2&nh=iWork,PDF");
  EXPECT_EQ(UrlEncode("https://h/d.php?ips=      Not Found\n"),
            "https://h/d.php?ips=%20%20%20%20%20%20Not%20Found%0A");
  EXPECT_EQ(UrlEncode("http://h/?a=*<>#%\"{}|\\^[]`+/?:@!$'()~;,"),
            "http://h/?a=%2A%3C%3E%23%25%22%7B%7D%7C%5C%5E%5B%5D%60+/?:@!$'()~;,");
  EXPECT_EQ(UrlEncode("http://h/?m=\x01\x7F\xC3\xA9"), "http://h/?m=%01\x7F%C3%A9");
}

TEST(UrlEncodeTest, PathEscapesThePlusSignTooAndSchemeAndHostStay) {
  EXPECT_EQ(UrlEncode("https://api.example:8443/q/a+b/c d/%/x&y=z"),
            "https://api.example:8443/q/a%2Bb/c%20d/%25/x&y=z");
  EXPECT_EQ(UrlEncode("https://h/api/olvarocloud/q/0//0"), "https://h/api/olvarocloud/q/0//0");
  EXPECT_EQ(UrlEncode("https://h"), "https://h");
}

}  // namespace
