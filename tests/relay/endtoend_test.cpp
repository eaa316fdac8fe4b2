// The whole road with the built programs: olvaro-desktop polling olvaro-relay over HTTPS
// and printing into a capturing CUPS queue what a sender gave the relay, through
// olvaro-send and through the page in a real browser; olvaro-send on the local network
// finding the desktop by DNS-SD; and olvaro-send against relays and PCs that attack it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "tests/relay/relayprocess.h"
#include "tests/support/httpsrelay.h"
#include "tests/support/servicetest.h"
#include "tests/support/xsession.h"

extern char** environ;

namespace {

class EndToEndTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(CaptureQueueReady()) << "cupsd or " << kServiceTestQueue << " missing: run scripts/start-services.sh --test-queues";
    ASSERT_TRUE(ServiceTestEnvironment::StorePort(port));
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    ASSERT_TRUE(relay.Started()) << relay.Log();
    setenv("OLVARO_API_URL", relay.BaseUrl().c_str(), 1);
  }
  void TearDown() override { StopDesktop(); }

  void StartDesktop() {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
    desktop = SpawnWithEnvironment({OLVARO_DESKTOP}, environment);
    ASSERT_GT(desktop, 0);
  }
  void StopDesktop() {
    EndProcess(desktop);
    desktop = -1;
  }
  // Waits until the relay has answered `count` queue polls.
  bool WaitForPolls(size_t count) {
    const auto polls = [this] {
      const std::string log = relay.Log();
      size_t found = 0;
      for (auto at = log.find("GET /api/olvarocloud/q/... 200"); at != std::string::npos; at = log.find("q/... 200", at + 1)) ++found;
      return found;
    };
    for (int i = 0; i < 300 && polls() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return polls() >= count;
  }
  // A PDF whose name no other run uses.
  std::string WriteDocument(const std::string& kind) {
    name = kind + "-" + std::to_string(getpid()) + "-" + std::to_string(port) + ".pdf";
    content = MakeTestPdf("Printed " + name);
    EXPECT_TRUE(WriteTestFile(environment.Root() + name, content));
    return environment.Root() + name;
  }
  // Both copies of the cloud job came out of the queue, from the bytes that were sent.
  void ExpectPrintedFromRelay(int copies) {
    const std::string spoolName = "CloudPrint_0_" + name;
    EXPECT_EQ(WaitForCapturedJobs(kServiceTestQueue, spoolName, copies, std::chrono::seconds(90)).size(),
              static_cast<size_t>(copies));
    EXPECT_TRUE(ReadTestFile(environment.SpoolFolder() + spoolName) == content);
    EXPECT_EQ(DesktopClient({relay, ServiceTestEnvironment::kCloudUuid}).Queue(), "0");  // acknowledged
  }

  ServiceTestEnvironment environment{kServiceTestQueue};
  uint16_t port = FindFreePort();
  RelayProcess relay{environment.Root() + "relay"};
  pid_t desktop = -1;
  std::string name;
  std::string content;
};

TEST_F(EndToEndTest, OlvaroSendThroughTheRelayPrintsOnThePollingDesktop) {
  const std::string file = WriteDocument("relay-send");
  const std::string code = DesktopClient({relay, ServiceTestEnvironment::kCloudUuid}).AuthCode();
  EXPECT_EQ(RunTestProgram({OLVARO_SEND, "--relay", relay.BaseUrl(), "--code", "WRONG9", file}), 6);
  EXPECT_EQ(RunTestProgram({OLVARO_SEND, "--relay", relay.BaseUrl(), file}), 6);  // not paired yet
  EXPECT_EQ(RunTestProgram({OLVARO_SEND, "--relay", relay.BaseUrl(), environment.Root() + "missing.pdf"}), 3);
  EXPECT_EQ(RunTestProgram({OLVARO_SEND, "--relay", RefusingPort().BaseUrl(), "--code", code, file}), 7);
  // Pairs once, and later sends on the stored pairing.
  ASSERT_EQ(RunTestProgram({OLVARO_SEND, "--relay", relay.BaseUrl(), "--code", code, file, "--copies", "2"}), 0);

  StartDesktop();
  ExpectPrintedFromRelay(2);
}

TEST_F(EndToEndTest, ADocumentSentFromThePageInABrowserIsPrintedAndNoOtherSiteRepairsTheBrowser) {
  const DesktopClient cloud{relay, ServiceTestEnvironment::kCloudUuid};
  const std::string code = cloud.AuthCode();
  // The desktop announces itself and polls once; the page then shows it online.
  StartDesktop();
  ASSERT_TRUE(WaitForPolls(1)) << relay.Log();
  StopDesktop();
  char host[256] = "";
  gethostname(host, sizeof host);
  // Tokens the page knows nothing of, named like what every script object has.
  ASSERT_EQ(cloud.Announce(host, "iWork,constructor,__proto__,toString").status, 200);
  // The PC another site wants the browser to send to.
  const DesktopClient attacker{relay, "9f8e7d6c-5b4a-4321-8765-43210fedcba9"};
  ASSERT_EQ(attacker.Announce("attacker-pc", "").status, 200);

  const std::string file = WriteDocument("browser");
  ASSERT_EQ(RunTestProgram({BROWSER_UPLOAD, relay.BaseUrl(), code, file, "3", host, attacker.AuthCode()}), 0);
  // Started again, the desktop polls at once.
  StartDesktop();
  ExpectPrintedFromRelay(3);
}

TEST_F(EndToEndTest, OlvaroSendFindsTheDesktopOnTheNetworkAndPrintsThere) {
  StartDesktop();
  ASSERT_TRUE(WaitForAdvertisement(port, true, std::chrono::seconds(30)));
  const std::string file = WriteDocument("lan-send");

  // The list names each PC with its address and what its "/info" says.
  std::string pcName;
  for (int attempt = 0; attempt < 5 && pcName.empty(); ++attempt) {
    std::istringstream list(ReadProgramOutput({OLVARO_SEND, "--list"}).value_or(""));
    for (std::string line; std::getline(list, line);) {
      // NAME, ADDRESS:PORT, then what "/info" says, with the not-have list last.
      const auto tab = line.find('\t');
      const auto portAt = line.find(":" + std::to_string(port) + "\t");
      if (tab != std::string::npos && portAt != std::string::npos && portAt > tab && line.find("iWork") != std::string::npos) {
        pcName = line.substr(0, tab);
      }
    }
  }
  ASSERT_FALSE(pcName.empty());
  EXPECT_EQ(RunTestProgram({OLVARO_SEND, "--to", "no such pc", file}), 4);
  EXPECT_EQ(RunTestProgram({OLVARO_SEND, "--to", pcName, environment.Root() + "missing.pdf"}), 3);
  ASSERT_TRUE(WriteTestFile(environment.Root() + "slides.key", "keynote"));
  EXPECT_EQ(RunTestProgram({OLVARO_SEND, "--to", pcName, environment.Root() + "slides.key"}), 5);
  ASSERT_EQ(RunTestProgram({OLVARO_SEND, "--to", pcName, "--copies", "2", file}), 0);
  EXPECT_EQ(WaitForCapturedJobs(kServiceTestQueue, name, 2, std::chrono::seconds(60)).size(), 2u);
  EXPECT_TRUE(ReadTestFile(environment.SpoolFolder() + name) == content);
}

// olvaro-send run against servers written to attack it: relays that plant pairings,
// stay silent or never stop talking, and PCs whose names carry terminal escapes.
class HostileServerTest : public testing::Test {
protected:
  void SetUp() override {
    setenv("CURL_CA_BUNDLE", TestCertificateAuthority::Get().caFile.c_str(), 1);
    ASSERT_TRUE(WriteTestFile(file, "%PDF-1.4 document"));
  }
  // olvaro-send with `arguments`: its output (standard output and error together), then
  // "exit N".
  static std::string Send(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {"sh", "-c", "\"$0\" \"$@\" 2>&1; echo \"exit $?\"", OLVARO_SEND};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return ReadProgramOutput(command).value_or("did not run");
  }
  // True when `output` holds a control character a terminal acts on, the line ends and
  // the tabs of the program's own lines aside.
  static bool HasTerminalControls(const std::string& output) {
    for (size_t i = 0; i < output.size(); ++i) {
      const auto c = static_cast<unsigned char>(output[i]);
      if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f || (c == 0xc2 && i + 1 < output.size() &&
                                                               static_cast<unsigned char>(output[i + 1]) < 0xa0)) {
        return true;
      }
    }
    return false;
  }

  TestEnvironment environment;
  const std::string file = environment.Root() + "report.pdf";
};

RelayResponse Answer(int status, const std::string& body, std::vector<std::pair<std::string, std::string>> headers = {}) {
  RelayResponse response;
  response.status = status;
  response.body = body;
  response.headers = std::move(headers);
  return response;
}

// A relay that takes any document sent with a pairing; `pairings` counts its pairings,
// each of which hands out a new token.
RelayResponse Willing(const RelayRequest& request, std::atomic<int>& pairings) {
  if (request.target == "/pair") {
    return Answer(200, "{}", {{"Set-Cookie", "olvaro_pairing=" + std::string(64, "abcdef"[++pairings % 6]) + "; Path=/"}});
  }
  return request.target == "/status" ? Answer(200, "{\"name\":\"office\",\"online\":true,\"csrf\":\"c\"}")
                                     : Answer(201, "{}");
}

TEST_F(HostileServerTest, APairingCookieCannotPlantAPairingForAnotherRelay) {
  std::atomic<int> pairings{0};
  TestRelayServer real([&](const RelayRequest& request) { return Willing(request, pairings); });
  TestRelayServer hostile([&](const RelayRequest&) {
    const std::string planted = std::string(64, 'a') + " " + real.BaseUrl() + " " + std::string(64, 'b');
    return Answer(200, "{}", {{"Set-Cookie", "olvaro_pairing=" + planted + "; Path=/; HttpOnly"}});
  });
  EXPECT_NE(Send({"--relay", hostile.BaseUrl(), "--code", "ABCDEF", file}).find("exit 1"), std::string::npos);
  EXPECT_NE(Send({"--relay", real.BaseUrl(), file}).find("not paired with"), std::string::npos);
  EXPECT_TRUE(real.Requests().empty());

  // The pairings as the earlier version wrote them are read; each relay has one record,
  // under its URL's one form, replaced as a whole.
  const std::string path = environment.ConfigFolder() + "olvaro-send/pairings";
  const std::string earlier = "HTTPS://127.0.0.1:" + std::to_string(real.Port()) + " " + std::string(64, '9') + "\n";
  ASSERT_TRUE(WriteTestFile(path, earlier));
  EXPECT_NE(Send({"--relay", real.BaseUrl() + "/", file}).find("exit 0"), std::string::npos);
  ASSERT_FALSE(real.Requests().empty());
  EXPECT_EQ(real.Requests().back().Header("cookie"), "olvaro_pairing=" + std::string(64, '9'));
  EXPECT_NE(Send({"--relay", real.BaseUrl(), "--code", "ABCDEF", file}).find("exit 0"), std::string::npos);
  EXPECT_NE(Send({"--relay", "hTTps://127.0.0.1:" + std::to_string(real.Port()) + "//", "--code", "ABCDEF", file}).find("exit 0"),
            std::string::npos);
  EXPECT_EQ(real.Requests().back().Header("cookie"), "olvaro_pairing=" + std::string(64, 'c'));
  EXPECT_EQ(ReadTestFile(path), real.BaseUrl() + " " + std::string(64, 'c') + "\n");
}

TEST_F(HostileServerTest, ARelayThatStaysSilentOrNeverStopsTalkingEndsTheSendWithAnError) {
  TestRelayServer silent([](const RelayRequest&) {
    RelayResponse response;
    response.silent = true;
    return response;
  });
  const auto started = std::chrono::steady_clock::now();
  const std::string waited = Send({"--relay", silent.BaseUrl(), "--code", "ABCDEF", "--timeout", "2", file});
  EXPECT_NE(waited.find("no answer in time"), std::string::npos) << waited;
  EXPECT_NE(waited.find("exit 7"), std::string::npos) << waited;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));

  std::atomic<long long> sent{0};
  TestRelayServer endless([&](const RelayRequest&) {
    RelayResponse response;
    response.stream = [&](RelayStream& stream) {
      const std::string block(64 * 1024, 'x');
      while (stream.Send(block.data(), block.size())) sent += static_cast<long long>(block.size());
    };
    return response;
  });
  const std::string flooded = Send({"--relay", endless.BaseUrl(), "--code", "ABCDEF", "--timeout", "5", file});
  EXPECT_NE(flooded.find("too large"), std::string::npos) << flooded;
  EXPECT_NE(flooded.find("exit 7"), std::string::npos) << flooded;
  endless.Stop();
  EXPECT_LT(sent.load(), 64LL << 20);

  // Pairing secrets never cross the network in clear text; loopback is only this machine.
  const std::string clear = Send({"--relay", "http://192.0.2.1", "--code", "ABCDEF", file});
  EXPECT_NE(clear.find("use https://"), std::string::npos) << clear;
  EXPECT_NE(clear.find("exit 2"), std::string::npos) << clear;
  TestRelayServer plain([](const RelayRequest&) { return Answer(403, "{}"); }, TestRelayServer::Scheme::Http);
  EXPECT_NE(Send({"--relay", plain.BaseUrl(), "--code", "ABCDEF", file}).find("the code is wrong"), std::string::npos);
}

TEST_F(HostileServerTest, NamesFromRelaysAndTheNetworkReachTheTerminalWithoutTheirEscapes) {
  const std::string evil = "\x1b]0;owned\x07\x1b[31mred\xc2\x9b" "2J\tpc";
  TestRelayServer relay([](const RelayRequest& request) {
    if (request.target == "/pair") return Answer(200, "{}", {{"Set-Cookie", "olvaro_pairing=" + std::string(64, 'd')}});
    return Answer(request.target == "/status" ? 200 : 413,
                  "{\"name\":\"\\u001b]0;owned\\u0007\\u009b2Jpc\",\"online\":false,\"lastSeenSeconds\":\"\\u001b[31m\","
                  "\"csrf\":\"c\",\"error\":\"\\u001b[2J too large\"}");
  });
  const std::string relayed = Send({"--relay", relay.BaseUrl(), "--code", "ABCDEF", file});
  EXPECT_NE(relayed.find("]0;owned?"), std::string::npos) << relayed;
  EXPECT_FALSE(HasTerminalControls(relayed)) << relayed;

  SKIP_WITHOUT_SERVICE(AvahiRunning(), "avahi-daemon is not running: run scripts/start-services.sh");
  TestRelayServer pc([&](const RelayRequest& request) {
    if (request.target != "/info") {
      RelayResponse response;
      response.silent = true;  // takes the document and never answers
      return response;
    }
    return Answer(200, "", {{"X-Hostname", evil}, {"X-Desktop-OS", evil}, {"X-Not-Have", ""}});
  }, TestRelayServer::Scheme::Http);
  const std::string name = evil + std::to_string(pc.Port());
  // Announced by avahi-publish for as long as it runs.
  struct Announcement {
    pid_t pid;
    ~Announcement() { EndProcess(pid); }
  } const announce{SpawnWithEnvironment({"sh", "-c", "exec avahi-publish -s \"$0\" _vostrelprint._tcp \"$1\" >/dev/null 2>&1",
                                         name, std::to_string(pc.Port())},
                                        {"PATH=/usr/bin:/bin"})};
  ASSERT_GT(announce.pid, 0);
  ASSERT_TRUE(WaitForAdvertisement(static_cast<uint16_t>(pc.Port()), true, std::chrono::seconds(30)));
  const std::string listed = Send({"--list", "--timeout", "3"});
  EXPECT_NE(listed.find("?]0;owned??[31mred?2J?pc" + std::to_string(pc.Port())), std::string::npos) << listed;
  EXPECT_FALSE(HasTerminalControls(listed)) << listed;
  const std::string printed = Send({"--to", name, "--timeout", "2", file});
  EXPECT_NE(printed.find("exit 7"), std::string::npos) << printed;
  EXPECT_FALSE(HasTerminalControls(printed)) << printed;
}

}  // namespace
