// The whole road with the built programs: olvaro-desktop polling olvaro-relay over HTTPS
// and printing into a capturing CUPS queue what a sender gave the relay, through
// olvaro-send and through the page in a real browser; and olvaro-send on the local
// network finding the desktop by DNS-SD.
#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
