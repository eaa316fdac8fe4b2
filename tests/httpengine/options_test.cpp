// The option table: return values, checks, log lines, listeners and the access list.
#include "tests/httpengine/engine_fixture.h"

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using Options = EngineTest;

TEST_F(Options, UnknownNameIsRefusedAndLogged) {
  EXPECT_EQ(mg_set_option(ctx_, "Ports", "1"), -1);
  EXPECT_EQ(mg_set_option(ctx_, "document_root", "/"), -1);
  EXPECT_EQ(LogLines(ErrorLog()), (std::vector<std::string>{
                                    "[error] [client 0.0.0.0] mg_set_option: No such option: [Ports]",
                                    "[error] [client 0.0.0.0] mg_set_option: No such option: [document_root]"}));
  EXPECT_EQ(Port(), port_);  // nothing stored
}

TEST_F(Options, ListChecksAcceptPairsOnly) {
  for (const char* name : {"protect", "cgi_env", "aliases", "mime_types"}) {
    EXPECT_EQ(mg_set_option(ctx_, name, "a=b,c=d"), 1) << name;
    EXPECT_EQ(mg_set_option(ctx_, name, ""), 1) << name;
    EXPECT_EQ(mg_set_option(ctx_, name, nullptr), 1) << name;
  }
  EXPECT_EQ(ErrorLog(), "");
  EXPECT_EQ(mg_set_option(ctx_, "aliases", "a=b,=c"), 0);
  EXPECT_EQ(mg_set_option(ctx_, "mime_types", "x="), 0);
  EXPECT_EQ(mg_set_option(ctx_, "protect", "plain"), 0);
  const std::vector<std::string> lines = LogLines(ErrorLog());
  const std::vector<std::string> expected = {
      "[error] [client 0.0.0.0] Invalid list specified: [a=b,=c], expecting key1=value1,key2=value2,...",
      "[error] [client 0.0.0.0] mg_set_option(aliases): failure"};
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + std::min<size_t>(2, lines.size())), expected);
  EXPECT_TRUE(HasLogLine(ErrorLog(), "0.0.0.0", "mg_set_option(protect): failure"));
}

TEST_F(Options, FileChecks) {
  EXPECT_EQ(mg_set_option(ctx_, "auth_gpass", (temp_ / "missing").c_str()), 0);
  EXPECT_EQ(mg_set_option(ctx_, "auth_gpass", nullptr), 1);
  EXPECT_EQ(mg_set_option(ctx_, "access_log", (temp_ / "no/such/folder").c_str()), 0);
  EXPECT_EQ(mg_set_option(ctx_, "access_log", (temp_ / "access.log").c_str()), 1);
  EXPECT_EQ(mg_set_option(ctx_, "max_threads", "12"), 1);
  EXPECT_EQ(mg_set_option(ctx_, "dir_list", "whatever"), 1);
  EXPECT_EQ(mg_set_option(ctx_, "admin_uri", "/admin"), 1);
  Exchange("GET /print?q HTTP/1.1\r\n\r\n");
  Exchange("GET /nothing HTTP/1.1\r\n\r\n");
  EXPECT_EQ(mg_set_option(ctx_, "access_log", nullptr), 1);
  std::ifstream file(temp_ / "access.log");
  std::string first, second;
  std::getline(file, first);
  std::getline(file, second);
  // 127.0.0.1 - - [date] "GET /print HTTP/1.1" status bytes
  EXPECT_TRUE(first.starts_with("127.0.0.1 - - [")) << first;
  EXPECT_TRUE(first.ends_with("] \"GET /print HTTP/1.1\" 0 " + std::to_string(kHandlerReply.size()))) << first;
  EXPECT_TRUE(second.starts_with("127.0.0.1 - - [")) << second;
  EXPECT_NE(second.find("] \"GET /nothing HTTP/1.1\" 404 "), std::string::npos) << second;
}

TEST_F(Options, ErrorLogCanMove) {
  ASSERT_EQ(mg_set_option(ctx_, "error_log", (temp_ / "second.log").c_str()), 1);
  mg_set_option(ctx_, "nonsense", "x");
  std::ifstream file(temp_ / "second.log");
  std::string line;
  std::getline(file, line);
  EXPECT_EQ(LogLines(line), std::vector<std::string>{"[error] [client 0.0.0.0] mg_set_option: No such option: [nonsense]"});
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(Options, SettingPortsAgainReplacesTheListeners) {
  const int first = port_;
  ASSERT_EQ(mg_set_option(ctx_, "ports", "127.0.0.1:0,0"), 1);
  const int second = Port(0), third = Port(1);
  ASSERT_NE(second, 0);
  ASSERT_NE(third, 0);
  port_ = second;
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
  port_ = third;
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
  // The first listener is gone.
  ClientSocket old(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(first));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_NE(connect(old.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
}

TEST_F(Options, PortsFailuresKeepEarlierListeners) {
  // A port in use by a listener that does not allow reuse.
  ClientSocket busy(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(busy.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(busy.fd(), 1), 0);
  socklen_t length = sizeof address;
  getsockname(busy.fd(), reinterpret_cast<sockaddr*>(&address), &length);
  const std::string taken = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  EXPECT_EQ(mg_set_option(ctx_, "ports", ("127.0.0.1:0," + taken + ",127.0.0.1:0").c_str()), 0);
  EXPECT_NE(Port(0), 0);
  EXPECT_EQ(Port(1), 0);
  const std::vector<std::string> lines = LogLines(ErrorLog());
  ASSERT_EQ(lines.size(), 3u) << ErrorLog();
  EXPECT_TRUE(lines[0].starts_with("[error] [client 0.0.0.0] mg_open_listening_port(" +
                                   std::to_string(ntohs(address.sin_port)) + "): Address already in use"))
      << lines[0];
  EXPECT_EQ(lines[1], "[error] [client 0.0.0.0] cannot bind to " + taken);
  EXPECT_EQ(lines[2], "[error] [client 0.0.0.0] mg_set_option(ports): failure");

  EXPECT_EQ(mg_set_option(ctx_, "ports", "127.0.0.1:0,4443s"), 0);
  EXPECT_NE(ErrorLog().find("cannot add SSL socket, please specify -ssl_cert option BEFORE -ports option\n"),
            std::string::npos);
  EXPECT_EQ(mg_set_option(ctx_, "ports", "http"), 0);
  EXPECT_EQ(mg_set_option(ctx_, "ports", "300.0.0.1:80"), 0);

  std::string ten;
  for (int i = 0; i < 10; ++i) ten += std::string(i ? "," : "") + "127.0.0.1:0";
  EXPECT_EQ(mg_set_option(ctx_, "ports", ten.c_str()), 0);
  EXPECT_NE(ErrorLog().find("Too many listeninig sockets\n"), std::string::npos);
  EXPECT_NE(Port(8), 0);
  port_ = Port(8);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
}

TEST_F(Options, AccessListRefusesAtAccept) {
  EXPECT_EQ(mg_set_option(ctx_, "acl", "+127.0.0.0/8,-127.0.0.9"), 1);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n", "127.0.0.8"), kHandlerReply);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n", "127.0.0.9"), "");
  EXPECT_TRUE(HasLogLine(ErrorLog(), "0.0.0.0", "accept_new_connection: 127.0.0.9 is not allowed to connect"));
  EXPECT_EQ(mg_set_option(ctx_, "acl", "-127.0.0.9"), 1);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n", "127.0.0.3"), kHandlerReply);
  EXPECT_EQ(mg_set_option(ctx_, "acl", "+10.0.0.0/8"), 1);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n", "127.0.0.3"), "");
  for (const char* bad : {"127.0.0.1", "+127.0.0.256", "+1.2.3.4/33", "+1.2.3", "*1.2.3.4", "+1.2.3.4/8x"}) {
    EXPECT_EQ(mg_set_option(ctx_, "acl", bad), 0) << bad;
  }
  // A refused list is stored all the same and lets nobody in.
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(mg_set_option(ctx_, "acl", nullptr), 1);
  EXPECT_EQ(Exchange("GET /info HTTP/1.1\r\n\r\n"), kHandlerReply);
}

TEST_F(Options, MimeTypesOptionAddsTypes) {
  const std::filesystem::path root = temp_ / "root";
  std::filesystem::create_directory(root);
  std::ofstream(root / "a.olv") << "x";
  std::ofstream(root / "b.png") << "x";
  ASSERT_EQ(mg_set_option(ctx_, "root", root.c_str()), 1);
  ASSERT_EQ(mg_set_option(ctx_, "mime_types", ".olv=application/x-olvaro"), 1);
  EXPECT_NE(Exchange("GET /a.olv HTTP/1.1\r\n\r\n").find("Content-Type: application/x-olvaro\r\n"), std::string::npos);
  EXPECT_NE(Exchange("GET /b.png HTTP/1.1\r\n\r\n").find("Content-Type: image/png\r\n"), std::string::npos);
  const std::string alias = "/pics=" + root.string();
  ASSERT_EQ(mg_set_option(ctx_, "aliases", alias.c_str()), 1);
  EXPECT_NE(Exchange("GET /pics/b.png HTTP/1.1\r\n\r\n").find("200 OK"), std::string::npos);
}

}  // namespace
