// Built-in document serving: files, folders, refusals and Digest authentication.
#include "tests/httpengine/engine_fixture.h"
#include "platform/executable.h"

#include <fstream>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <thread>

namespace {

class Files : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    root_ = temp_ / "root";
    std::filesystem::create_directories(root_ / "sub");
    Write("hello.txt", "Hello, file!");
    ASSERT_EQ(mg_set_option(ctx_, "root", root_.c_str()), 1);
  }
  void Write(const std::string& name, const std::string& content) {
    std::ofstream(root_ / name, std::ios::binary) << content;
  }
  std::string Body(const std::string& reply) { return reply.substr(reply.find("\r\n\r\n") + 4); }
  std::filesystem::path root_;
};

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned i = 0; i < length; ++i) {
    snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

TEST_F(Files, FileIsServedWithTypeLengthAndClose) {
  const std::string reply = Exchange("GET /hello.txt HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
  EXPECT_NE(reply.find("\r\nContent-Type: text/plain\r\n"), std::string::npos);
  EXPECT_NE(reply.find("\r\nContent-Length: 12\r\n"), std::string::npos);
  EXPECT_NE(reply.find("\r\nConnection: close\r\n"), std::string::npos);
  EXPECT_EQ(Body(reply), "Hello, file!");
  const std::string head = Exchange("HEAD /hello.txt HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Body(head), "");
  EXPECT_NE(head.find("Content-Length: 12\r\n"), std::string::npos);
  EXPECT_EQ(Body(Exchange("POST /hello.txt HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")), "Hello, file!");
}

TEST_F(Files, RangesGivePartialContent) {
  std::string reply = Exchange("GET /hello.txt HTTP/1.1\r\nRange: bytes=7-10\r\n\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 206 Partial Content\r\n")) << reply;
  EXPECT_NE(reply.find("Content-Range: bytes 7-10/12\r\n"), std::string::npos);
  EXPECT_EQ(Body(reply), "file");
  EXPECT_EQ(Body(Exchange("GET /hello.txt HTTP/1.1\r\nRange: bytes=7-\r\n\r\n")), "file!");
  EXPECT_EQ(Body(Exchange("GET /hello.txt HTTP/1.1\r\nRange: bytes=7-99\r\n\r\n")), "file!");
  // Ranges outside the file get the whole file, never bytes from elsewhere.
  reply = Exchange("GET /hello.txt HTTP/1.1\r\nRange: bytes=50-60\r\n\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(Body(reply), "Hello, file!");
  EXPECT_EQ(Body(Exchange("GET /hello.txt HTTP/1.1\r\nRange: bytes=9-3\r\n\r\n")), "Hello, file!");
}

TEST_F(Files, IfModifiedSinceAfterTheFileGets304) {
  struct stat status;
  ASSERT_EQ(stat((root_ / "hello.txt").c_str(), &status), 0);
  EXPECT_EQ(Exchange("GET /hello.txt HTTP/1.1\r\nIf-Modified-Since: " + format_http_date(status.st_mtime + 10) + "\r\n\r\n"),
            "HTTP/1.1 304 Not Modified\r\nContent-Type: text/plain\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(Body(Exchange("GET /hello.txt HTTP/1.1\r\nIf-Modified-Since: " + format_http_date(status.st_mtime - 10) +
                          "\r\n\r\n")),
            "Hello, file!");
  EXPECT_EQ(Body(Exchange("GET /hello.txt HTTP/1.1\r\nIf-Modified-Since: yesterday\r\n\r\n")), "Hello, file!");
  const std::string reply = Exchange("GET /hello.txt HTTP/1.1\r\n\r\n");
  EXPECT_NE(reply.find("Last-Modified: " + format_http_date(status.st_mtime) + "\r\n"), std::string::npos);
}

TEST_F(Files, HttpDatesRoundTrip) {
  EXPECT_EQ(format_http_date(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(format_http_date(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
  time_t when = 0;
  ASSERT_TRUE(parse_http_date("Sun, 06 Nov 1994 08:49:37 GMT", when));
  EXPECT_EQ(when, 784111777);
  EXPECT_FALSE(parse_http_date("Sun, 06 Nov 1994 08:49:37", when));
  EXPECT_FALSE(parse_http_date("Sun, 06 Foo 1994 08:49:37 GMT", when));
}

TEST_F(Files, RefusalsAndRedirects) {
  Write(".htpasswd", "");
  const std::string forbidden = "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 37\r\n"
                                "Connection: close\r\n\r\nError 403: Forbidden\nAccess Forbidden";
  std::filesystem::remove(root_ / ".htpasswd");
  EXPECT_EQ(Exchange("GET /sub/.htpasswd HTTP/1.1\r\n\r\n"), forbidden);
  EXPECT_EQ(Exchange("GET /.htpasswdx HTTP/1.1\r\n\r\n"), forbidden);
  EXPECT_EQ(Exchange("GET /missing HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 35\r\nConnection: close\r\n\r\n"
            "Error 404: Not Found\nFile not found");
  EXPECT_EQ(Exchange("GET /sub?x HTTP/1.1\r\n\r\n"), "HTTP/1.1 301 Moved Permanently\r\nLocation: /sub/\r\n\r\n");
  // Climbing above the root is not possible.
  std::ofstream(temp_ / "secret.txt") << "secret";
  for (const char* uri : {"/../secret.txt", "/%2e%2e/secret.txt", "/..%5csecret.txt", "/sub/../../secret.txt"}) {
    EXPECT_TRUE(Exchange(std::string("GET ") + uri + " HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 404 Not Found")) << uri;
  }
}

TEST_F(Files, CgiAndSsiFilesAreForbidden) {
  for (const char* name : {"run.cgi", "run.pl", "page.php", "page.shtml", "page.SHTM"}) {
    Write(name, "#!/bin/sh\necho hi\n");
    const std::string reply = Exchange(std::string("GET /") + name + " HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 403 Forbidden\r\n")) << name;
    EXPECT_EQ(Body(reply), "Error 403: Forbidden\nAccess Forbidden");
  }
  Write("sub/index.cgi", "#!/bin/sh\n");
  EXPECT_TRUE(Exchange("GET /sub/ HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 403 Forbidden\r\n"));
}

TEST_F(Files, FoldersServeIndexFilesOrTheLanding) {
  EXPECT_EQ(Body(Exchange("GET /sub/ HTTP/1.1\r\n\r\n")),
            "Error 200: OK\nThis is Olvaro Desktop for printing using iPhone/iPad.");
  Write("sub/index.htm", "<p>second</p>");
  const std::string reply = Exchange("GET /sub/ HTTP/1.1\r\n\r\n");
  EXPECT_NE(reply.find("Content-Type: text/html\r\n"), std::string::npos);
  EXPECT_EQ(Body(reply), "<p>second</p>");
  Write("sub/index.html", "<p>first</p>");
  EXPECT_EQ(Body(Exchange("GET /sub/ HTTP/1.1\r\n\r\n")), "<p>first</p>");
}

TEST_F(Files, ListingWhenDirListIsOn) {
  ASSERT_EQ(mg_set_option(ctx_, "dir_list", "Yes"), 1);
  Write("sub/a <b>.txt", "x");
  const std::string reply = Exchange("GET /sub/ HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_NE(reply.find("<a href=\"a%20%3Cb%3E.txt\">a &lt;b&gt;.txt</a>"), std::string::npos) << reply;
}

TEST_F(Files, LinksAndSpecialFilesAreNotServed) {
  std::ofstream(temp_ / "secret.txt") << "secret";
  std::filesystem::create_directory(temp_ / "outside");
  std::ofstream(temp_ / "outside" / "doc.txt") << "outside";
  std::filesystem::create_symlink(temp_ / "secret.txt", root_ / "secret.txt");
  std::filesystem::create_directory_symlink(temp_ / "outside", root_ / "outside");
  std::filesystem::create_symlink(root_ / "hello.txt", root_ / "inside.txt");
  ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0600), 0);
  for (const char* uri : {"/secret.txt", "/outside/doc.txt", "/outside/", "/inside.txt", "/pipe"}) {
    EXPECT_TRUE(Exchange(std::string("GET ") + uri + " HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 404 Not Found")) << uri;
  }
  EXPECT_EQ(Body(Exchange("GET /./hello.txt HTTP/1.1\r\n\r\n")), "Hello, file!");
}

TEST_F(Files, RootThatIsNoUsableFolderServesNoFiles) {
  for (const std::string& root : {std::string(), std::string("/no/such/folder"), (root_ / "hello.txt").string()}) {
    ASSERT_EQ(mg_set_option(ctx_, "root", root.c_str()), 1);
    EXPECT_TRUE(Exchange("GET /etc/hostname HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 404 Not Found")) << root;
    EXPECT_EQ(Body(Exchange("GET / HTTP/1.1\r\n\r\n")),
              "Error 200: OK\nThis is Olvaro Desktop for printing using iPhone/iPad.");
  }
}

TEST_F(Files, TheExecutableIsServedFromTheDefaultRoot) {
  mg_stop(ctx_);
  ctx_ = mg_start();
  ASSERT_NE(ctx_, nullptr);
  ASSERT_EQ(mg_set_option(ctx_, "idle_time", "0"), 1);
  ASSERT_EQ(mg_set_option(ctx_, "ports", "127.0.0.1:0"), 1);
  port_ = Port();
  const std::string name = std::filesystem::path(GetExecutablePath()).filename();
  const std::string reply = Exchange("GET /" + name + " HTTP/1.1\r\n\r\n");
  EXPECT_NE(reply.find("Content-Length: " + std::to_string(std::filesystem::file_size(GetExecutablePath()))),
            std::string::npos);
  EXPECT_EQ(Body(reply).substr(0, 4), "\x7f" "ELF");
}

TEST_F(Files, PutAndDeleteWithoutHandlerGetTheDigestChallenge) {
  for (const char* method : {"PUT", "DELETE"}) {
    const std::string reply = Exchange(std::string(method) + " /hello.txt HTTP/1.1\r\nContent-Length: 1\r\n\r\nx");
    constexpr std::string_view kStart =
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest qop=\"auth\", realm=\"olvaro.local\", nonce=\"";
    ASSERT_TRUE(reply.starts_with(kStart)) << reply;
    ASSERT_TRUE(reply.ends_with("\"\r\n\r\n")) << reply;
    const std::string nonce = reply.substr(kStart.size(), reply.size() - kStart.size() - 5);
    EXPECT_NEAR(std::stol(nonce), time(nullptr), 5) << reply;
    EXPECT_EQ(nonce.find_first_not_of("0123456789"), std::string::npos);
  }
  EXPECT_TRUE(std::filesystem::exists(root_ / "hello.txt"));
}

TEST_F(Files, PasswordFileRequiresDigestCredentials) {
  std::filesystem::create_directory(root_ / "private");
  Write("private/doc.txt", "private words");
  Write("private/.htpasswd", "anna:olvaro.local:" + Md5Hex("anna:olvaro.local:s3cret") + "\n");
  const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/private/doc.txt";
  EXPECT_EQ(RunCommand("curl -s -o /dev/null -w '%{http_code}' " + url), "401");
  EXPECT_EQ(RunCommand("curl -s --digest -u anna:wrong -o /dev/null -w '%{http_code}' " + url), "401");
  EXPECT_EQ(RunCommand("curl -s --digest -u anna:s3cret " + url), "private words");
  EXPECT_EQ(RunCommand("curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:" + std::to_string(port_) + "/hello.txt"),
            "200");
  // A password file put into the root of a running engine guards the root's files and
  // handlers once the engine looks at its root again, and no longer once it is removed.
  const auto reply_within = [this](const std::string& uri, std::string_view start) {
    for (const auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;) {
      if (Exchange("GET " + uri + " HTTP/1.1\r\n\r\n").starts_with(start)) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  };
  Write(".htpasswd", "anna:olvaro.local:" + Md5Hex("anna:olvaro.local:s3cret") + "\n");
  EXPECT_TRUE(reply_within("/hello.txt", "HTTP/1.1 401 Unauthorized\r\n"));
  EXPECT_TRUE(Exchange("GET /info HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 401 Unauthorized\r\n"));
  std::filesystem::remove(root_ / ".htpasswd");
  EXPECT_TRUE(reply_within("/hello.txt", "HTTP/1.1 200 OK\r\n"));
  // The global file guards everything, handlers included.
  Write("global", "bob:olvaro.local:" + Md5Hex("bob:olvaro.local:pw") + "\n");
  ASSERT_EQ(mg_set_option(ctx_, "auth_gpass", (root_ / "global").c_str()), 1);
  EXPECT_TRUE(Exchange("GET /info HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 401 Unauthorized\r\n"));
  EXPECT_EQ(RunCommand("curl -s --digest -u bob:pw -o /dev/null -w '%{http_code}' http://127.0.0.1:" +
                       std::to_string(port_) + "/info"),
            "204");
}

}  // namespace
