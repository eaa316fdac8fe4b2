// The advertisement as a DNS-SD browser on the network sees it, including a daemon that
// is away or restarts.
#include "platform/dnssd.h"
#include "printservice/vostrelhttpserver.h"
#include "tests/support/servicetest.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

class AdvertiseTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(StartAvahi()) << "avahi-daemon cannot run here (scripts/start-services.sh)";
  }
  // Every test leaves the daemon running, as it found it.
  void TearDown() override { StartAvahi(); }

  ServiceTestEnvironment environment;
};

TEST(AlternativeServiceNameTest, CountsOnAsResponders) {
  EXPECT_EQ(AlternativeServiceName("raspberrypi"), "raspberrypi #2");
  EXPECT_EQ(AlternativeServiceName("raspberrypi #2"), "raspberrypi #3");
  EXPECT_EQ(AlternativeServiceName("pc #9"), "pc #10");
  // Only a plain count is one of ours.
  EXPECT_EQ(AlternativeServiceName("pc #07"), "pc #07 #2");
  EXPECT_EQ(AlternativeServiceName("pc #"), "pc # #2");
  // A name stays within one DNS label of 63 bytes, cut between characters.
  const std::string longName = std::string(59, 'a') + "\xC3\xA9\xC3\xA9";
  EXPECT_EQ(AlternativeServiceName(longName), std::string(59, 'a') + " #2");
}

TEST_F(AdvertiseTest, ServiceIsSeenOnItsPortAndGoesWithTheObject) {
  const uint16_t port = FindFreePort();
  auto server = std::make_unique<CVostrelHttpServer>();
  server->Start(port);
  EXPECT_TRUE(WaitForAdvertisement(port, true, std::chrono::seconds(10)));
  server.reset();
  EXPECT_TRUE(WaitForAdvertisement(port, false, std::chrono::seconds(10)));
}

// Two PCs of the same name, as two services of this computer's name on two ports: the
// second takes "name #2" and says so, and a browser sees both.
TEST_F(AdvertiseTest, ASecondServiceOfTheSameNameIsSeenUnderTheNextName) {
  const uint16_t firstPort = FindFreePort();
  const uint16_t secondPort = FindFreePort();
  CVostrelHttpServer first;
  first.Start(firstPort);
  ASSERT_TRUE(WaitForAdvertisement(firstPort, true, std::chrono::seconds(10)));
  testing::internal::CaptureStderr();
  CVostrelHttpServer second;
  second.Start(secondPort);
  const bool seen = WaitForAdvertisement(secondPort, true, std::chrono::seconds(10));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(seen);
  EXPECT_NE(log.find("is taken on the network; announcing as \""), std::string::npos) << log;
  EXPECT_NE(log.find(" #"), std::string::npos) << log;
  EXPECT_TRUE(WaitForAdvertisement(firstPort, true, std::chrono::seconds(2)));
}

TEST_F(AdvertiseTest, PortAbove65535IsAdvertisedAndServedOnItsLow16Bits) {
  CVostrelHttpServer server;
  server.Start(70000);
  EXPECT_TRUE(WaitForService(4464, std::chrono::seconds(10)));
  EXPECT_TRUE(WaitForAdvertisement(4464, true, std::chrono::seconds(10)));
}

TEST_F(AdvertiseTest, ServiceAnswersWhileTheDaemonIsAwayAndIsSeenOnceItReturns) {
  ASSERT_TRUE(StopAvahi());
  const uint16_t port = FindFreePort();
  CVostrelHttpServer server;
  server.Start(port);
  EXPECT_TRUE(WaitForService(port, std::chrono::seconds(2)));
  ASSERT_TRUE(StartAvahi());
  EXPECT_TRUE(WaitForAdvertisement(port, true, std::chrono::seconds(15)));
}

TEST_F(AdvertiseTest, ServiceIsRegisteredAgainAfterTheDaemonRestarts) {
  const uint16_t port = FindFreePort();
  CVostrelHttpServer server;
  server.Start(port);
  ASSERT_TRUE(WaitForAdvertisement(port, true, std::chrono::seconds(10)));
  ASSERT_TRUE(StopAvahi());
  ASSERT_TRUE(StartAvahi());
  EXPECT_TRUE(WaitForAdvertisement(port, true, std::chrono::seconds(15)));
}

TEST_F(AdvertiseTest, DestructionDoesNotWaitForRegistrationAttempts) {
  ASSERT_TRUE(StopAvahi());
  const uint16_t port = FindFreePort();
  auto server = std::make_unique<CVostrelHttpServer>();
  server->Start(port);
  // No request is made: the engine has no worker to wait for, so the time is the
  // advertisement's. Its attempts would go on for a minute; the stop request cuts them short.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const auto before = std::chrono::steady_clock::now();
  server.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

}  // namespace
