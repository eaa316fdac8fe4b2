#include "cloud/printercloud.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/cloud/cloudfakes.h"
#include "tests/cloud/relaytestenv.h"

namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

const std::string kUuid = "ab345678-1234-1234-1234-123456789012";

class PollerTest : public ::testing::Test {
protected:
  // A relay whose queue answers `queue` and whose other requests answer "ok".
  void StartRelay(const std::string& queue) {
    relay = std::make_unique<TestRelayServer>([queue](const RelayRequest& request) {
      RelayResponse response;
      response.body = request.target.find("/q/") != std::string::npos ? queue : "ok";
      return response;
    });
    environment.UseApiServer(relay->BaseUrl());
  }

  // Runs the poller until it has made `requests` requests, then stops it; the time the
  // stop took.
  std::chrono::steady_clock::duration RunUntil(TPrinterCloud& poller, size_t requests) {
    poller.Resume();
    EXPECT_TRUE(Eventually([&] { return relay->Requests().size() >= requests; }));
    // The pass ends with "busy0"; stop only in the pause after it.
    EXPECT_TRUE(Eventually([&] { return !sink.Events().empty() && sink.Events().back() == "busy0"; }));
    const auto start = std::chrono::steady_clock::now();
    poller.RequestStop();
    poller.WaitFor();
    return std::chrono::steady_clock::now() - start;
  }

  RelayTestEnvironment environment;
  std::unique_ptr<TestRelayServer> relay;
  RecordingSink sink;
  FakeDesktop desktop;
};

TEST_F(PollerTest, AnnouncementAndQueueRequestCarryTheRelaysBytes) {
  StartRelay("");
  desktop.hostName = "Desk Top";
  TPrinterCloud poller(sink, kUuid, desktop.Environment());
  EXPECT_LT(RunUntil(poller, 2), 500ms);  // the stop request cuts the pause short
  const auto requests = relay->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/api/olvarocloud/desktop.php?uuid=" + kUuid +
                                    "&m=Desk%20Top&ips=192.168.1.5%252C10.0.0.2&nh=iWork,Office,PDF");
  EXPECT_EQ(requests[1].target, "/api/olvarocloud/q/a/b/" + kUuid);
  // An empty queue: nothing is processed.
  EXPECT_EQ(sink.Events(), (Events{"state1", "busy1", "state1", "busy0"}));
}

TEST_F(PollerTest, NoAddressGivesItsOwnForm) {
  StartRelay("0");
  desktop.addresses.clear();
  TPrinterCloud poller(sink, kUuid, desktop.Environment());
  RunUntil(poller, 2);
  const auto requests = relay->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/api/olvarocloud/desktop.php?uuid=" + kUuid +
                                    "&m=desk-1&ips=%20%20%20%20%20%20Not%20Found%0A&nh=iWork,Office,PDF");
  EXPECT_TRUE(desktop.Printed().empty());
}

TEST_F(PollerTest, WithoutAValidIdentityNothingIsAnnouncedOrPolled) {
  StartRelay("k\ts\tshared.txt\t2");
  std::vector<std::unique_ptr<TPrinterCloud>> pollers;
  for (const std::string& uuid : {std::string("0"), std::string("-1"), std::string(), kUuid.substr(1) + "/"}) {
    pollers.push_back(std::make_unique<TPrinterCloud>(sink, uuid, desktop.Environment()));
    pollers.back()->Resume();
  }
  std::this_thread::sleep_for(1s);  // a poller that went ahead would have asked by now
  EXPECT_TRUE(relay->Requests().empty());
  EXPECT_TRUE(sink.Events().empty());
}

TEST_F(PollerTest, AnUnreachableServerIsReportedInTheWindowsOrder) {
  RefusingPort nowhere;
  environment.UseApiServer(nowhere.BaseUrl());
  TPrinterCloud poller(sink, kUuid, desktop.Environment());
  poller.Resume();
  ASSERT_TRUE(Eventually([&] { return sink.Events().size() >= 6; }));
  poller.RequestStop();
  poller.WaitFor();
  EXPECT_EQ(sink.Events(), (Events{"state0", "busy0", "busy1", "state0", "busy0", "busy0"}));
}

TEST_F(PollerTest, AQueueAnswerIsProcessedWithinThePass) {
  relay = std::make_unique<TestRelayServer>([](const RelayRequest& request) {
    RelayResponse response;
    if (request.target.find("/q/") != std::string::npos) response.body = "key\tsrv\tdoc.txt\t5\t-\t3";
    else if (request.target.find("/upload/") != std::string::npos) response.body = "hello";
    else response.body = "ok";
    return response;
  });
  environment.UseApiServer(relay->BaseUrl());
  TPrinterCloud poller(sink, kUuid, desktop.Environment());
  RunUntil(poller, 4);
  EXPECT_EQ(sink.Events(), (Events{"state1", "busy1", "state1", "state1", "state1", "busy0"}));
  EXPECT_EQ(desktop.Printed().size(), 3u);
}

TEST_F(PollerTest, AStopFlagSetDirectlyIsSeenWithinASecond) {
  StartRelay("");
  TPrinterCloud poller(sink, kUuid, desktop.Environment());
  poller.Resume();
  ASSERT_TRUE(Eventually([&] { return sink.Events().size() >= 4; }));
  const auto start = std::chrono::steady_clock::now();
  poller.stopRequested = true;
  poller.WaitFor();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_EQ(relay->Requests().size(), 2u);
}

TEST_F(PollerTest, DestroyingARunningPollerStopsIt) {
  StartRelay("");
  {
    TPrinterCloud poller(sink, kUuid, desktop.Environment());
    poller.Resume();
    ASSERT_TRUE(Eventually([&] { return relay->Requests().size() >= 2; }));
  }
  EXPECT_EQ(relay->Requests().size(), 2u);
}

}  // namespace
