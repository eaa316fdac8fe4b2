// The start-up sequence: when the update check starts, and the cloud poller's start
// and end.
#include "app/startup.h"
#include "platform/clock.h"
#include "base/settings.h"
#include "tests/support/httpsrelay.h"
#include "tests/support/servicetest.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(UpdateCheckDue, DueOnlyADayAfterTheLastCheck) {
  const uint64_t now = 133000000000000000ULL;
  EXPECT_TRUE(IsUpdateCheckDue(0, now));                          // never checked
  EXPECT_TRUE(IsUpdateCheckDue(now - kFileTimeDay, now));         // exactly a day
  EXPECT_TRUE(IsUpdateCheckDue(now - 30 * kFileTimeDay, now));
  EXPECT_FALSE(IsUpdateCheckDue(now - kFileTimeDay + 1, now));    // a tick short of a day
  EXPECT_FALSE(IsUpdateCheckDue(now - 36000000000ULL, now));      // an hour ago
  EXPECT_FALSE(IsUpdateCheckDue(now + 36000000000ULL, now));      // clock turned back
  EXPECT_FALSE(IsUpdateCheckDue(now + kFileTimeDay, now + kFileTimeDay * 2 - 1));
  EXPECT_TRUE(IsUpdateCheckDue(now + kFileTimeDay, now + kFileTimeDay * 2));
  EXPECT_FALSE(IsUpdateCheckDue(UINT64_MAX, now));
}

// Reports of the cloud poller; lives as long as the process, since a poller that is
// given up may still report.
class RecordingCloudStatus : public CCloudStatusSink {
public:
  void CloudBusy(bool) override {}
  void CloudState(bool connected) override {
    (connected ? connectedReports : failedReports)++;
  }
  std::atomic<int> connectedReports{0};
  std::atomic<int> failedReports{0};
};

class StartupSequenceTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(ServiceTestEnvironment::StorePort(FindFreePort())); }
  ServiceTestEnvironment environment;
};

TEST_F(StartupSequenceTest, UpdateCheckStartsOnlyWhenDue) {
  const uint64_t hour = 36000000000ULL;
  const std::pair<uint64_t, int> cases[] = {
      {0, 1},                                      // no stored time
      {GetLocalFileTime() - hour, 0},              // less than a day ago
      {GetLocalFileTime() + hour, 0},              // in the future
      {GetLocalFileTime() - 2 * kFileTimeDay, 1},  // two days ago
  };
  for (const auto& [stored, expectedStarts] : cases) {
    WriteLastUpdateCheckTime(stored);
    int starts = 0;
    CStartupSequence startup;
    startup.Run(StartupHooks{nullptr, [&starts] { ++starts; }});
    EXPECT_EQ(starts, expectedStarts) << "stored time " << stored;
    EXPECT_TRUE(startup.Stop(std::chrono::seconds(5)));
  }
}

TEST_F(StartupSequenceTest, PrintServiceRunsOnTheStoredPortUntilStopped) {
  const uint16_t port = FindFreePort();
  ASSERT_TRUE(ServiceTestEnvironment::StorePort(port));
  CStartupSequence startup;
  startup.Run(StartupHooks{});
  EXPECT_EQ(startup.ServicePort(), port);
  // No request is made, so the engine has no worker to wait for when it stops.
  EXPECT_TRUE(startup.Stop(std::chrono::seconds(5)));
  EXPECT_FALSE(PhoneConnection(port).IsConnected());
}

TEST_F(StartupSequenceTest, CloudPollerStartsWithTheIdentityAndStops) {
  static RecordingCloudStatus status;
  status.failedReports = 0;
  CStartupSequence startup;
  startup.Run(StartupHooks{&status, {}});
  // Nobody answers at the relay address: the poller's announcement fails and says so.
  for (int i = 0; i < 200 && status.failedReports == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_GT(status.failedReports, 0);
  EXPECT_TRUE(startup.Stop(std::chrono::seconds(5)));
}

TEST_F(StartupSequenceTest, StopCutsOffAPollerWaitingForASilentRelay) {
  SilentRelay relay;
  ASSERT_TRUE(relay.Listening());

  static RecordingCloudStatus status;
  CStartupSequence startup;
  startup.Run(StartupHooks{&status, {}});
  ASSERT_TRUE(relay.AcceptOne());
  const auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(startup.Stop(std::chrono::seconds(5)));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}

TEST_F(StartupSequenceTest, ThePollerStartsOnceTheRelayIssuesAnIdentity) {
  ASSERT_TRUE(WriteSettingString("Magic", ""));
  const std::string issued = "1e2d3c4b-5a69-4788-9a0b-c1d2e3f4a5b6";
  std::atomic<int> identityRequests{0};
  TestRelayServer relay([&](const RelayRequest& request) {
    RelayResponse response;
    if (request.target.ends_with("generate-uuid.php")) {
      response.status = identityRequests++ == 0 ? 503 : 200;  // the first request fails
      response.body = issued;
    }
    return response;
  }, TestRelayServer::Scheme::Http);
  setenv("OLVARO_API_URL", relay.BaseUrl().c_str(), 1);
  CStartupSequence startup;
  startup.Run(StartupHooks{});
  const auto polled = [&] { return relay.Requests().size() >= 4; };
  for (int i = 0; i < 200 && !polled(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(startup.Stop(std::chrono::seconds(5)));
  const auto requests = relay.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_TRUE(requests[2].target.starts_with("/api/olvarocloud/desktop.php?uuid=" + issued + "&"));
  EXPECT_EQ(requests[3].target, "/api/olvarocloud/q/1/e/" + issued);
  EXPECT_EQ(ReadSettingString("Magic"), issued);
}

}  // namespace
