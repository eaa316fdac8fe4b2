#include "cloud/cloudmanager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "base/settings.h"
#include "tests/cloud/cloudfakes.h"
#include "tests/cloud/relaytestenv.h"

namespace {

using namespace std::chrono_literals;

const std::string kUuid = "0a1b2c3d-4e5f-6789-abcd-ef0123456789";

RelayResponse Text(const std::string& body, int status = 200) {
  RelayResponse response;
  response.status = status;
  response.body = body;
  return response;
}

class CloudIdentityTest : public ::testing::Test {
protected:
  // A relay that issues `issued` for every identity request.
  void StartRelay(const std::string& issued) {
    relay = std::make_unique<TestRelayServer>([issued](const RelayRequest&) { return Text(issued); });
    environment.UseApiServer(relay->BaseUrl());
  }
  size_t RequestCount() const { return relay ? relay->Requests().size() : 0; }

  RelayTestEnvironment environment;
  std::unique_ptr<TestRelayServer> relay;
};

TEST_F(CloudIdentityTest, FirstStartStoresTheIssuedIdentityAndLaterCallsReadIt) {
  StartRelay(kUuid);
  EXPECT_EQ(GetCloudUuid(), "");
  EXPECT_EQ(CCloudUuidRequest().Obtain(), kUuid);
  EXPECT_EQ(ReadMagicValue(), kUuid);
  const RelayRequest request = relay->Requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/api/olvarocloud/generate-uuid.php");
  EXPECT_EQ(request.body, "");
  EXPECT_EQ(request.Header("content-type"), "application/x-www-form-urlencoded");

  EXPECT_EQ(GetCloudUuid(), kUuid);
  EXPECT_EQ(CCloudUuidRequest().Obtain(), kUuid);
  EXPECT_EQ(RequestCount(), 1u);
}

TEST_F(CloudIdentityTest, AStoredValueThatIsNoIdentityIsNeitherSentNorKept) {
  StartRelay(kUuid);
  for (const std::string& stored : {kUuid.substr(1), kUuid + "0", std::string("no hex, no dashes: just 36 chars ok!"),
                                    kUuid.substr(0, 34) + "\r\n", kUuid.substr(0, 34) + "\xC3\xA9"}) {
    ASSERT_TRUE(WriteSettingString("Magic", stored));
    EXPECT_EQ(GetCloudUuid(), "") << stored;
    EXPECT_EQ(CCloudUuidRequest().Obtain(), kUuid);
    EXPECT_EQ(ReadMagicValue(), kUuid);
  }
  EXPECT_EQ(RequestCount(), 5u);
}

TEST_F(CloudIdentityTest, FailedAndHostileAnswersAreRetriedAfterGrowingPausesAndNeverStored) {
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> arrivals;
  std::mutex mutex;
  relay = std::make_unique<TestRelayServer>([&](const RelayRequest&) {
    const std::lock_guard lock(mutex);
    arrivals.push_back(Clock::now());
    // A header injection, a settings file of 5 MB, "0", an error status; then the identity.
    switch (arrivals.size()) {
      case 1: return Text(kUuid.substr(0, 17) + "\r\nX-Evil: 1\r\n" + kUuid.substr(0, 6));
      case 2: return Text(std::string(5 << 20, 'x'));
      case 3: return Text("0");
      case 4: return Text(kUuid, 500);
      default: return Text(kUuid);
    }
  });
  environment.UseApiServer(relay->BaseUrl());
  CCloudUuidRequest request(100ms, 300ms);
  EXPECT_EQ(request.Obtain(), kUuid);
  EXPECT_EQ(ReadMagicValue(), kUuid);
  const std::lock_guard lock(mutex);
  ASSERT_EQ(arrivals.size(), 5u);
  // Pauses of 100, 200, 300 and 300 ms.
  EXPECT_GE(arrivals[1] - arrivals[0], 100ms);
  EXPECT_GE(arrivals[2] - arrivals[1], 200ms);
  EXPECT_GE(arrivals[4] - arrivals[3], 300ms);
}

TEST_F(CloudIdentityTest, StopCutsOffARequestToASilentRelay) {
  relay = std::make_unique<TestRelayServer>([](const RelayRequest&) { return SilentAnswer(); });
  environment.UseApiServer(relay->BaseUrl());
  CCloudUuidRequest request;
  std::thread stopper([&] {
    EXPECT_TRUE(Eventually([&] { return RequestCount() == 1; }));
    request.Stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(request.Obtain(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  stopper.join();
  EXPECT_EQ(ReadSettingString("Magic"), "");
}

class AuthCodeTest : public ::testing::Test {
protected:
  void StartRelay(RelayHandler handler) {
    relay = std::make_unique<TestRelayServer>(std::move(handler));
    environment.UseApiServer(relay->BaseUrl());
  }

  RelayTestEnvironment environment;
  std::unique_ptr<TestRelayServer> relay;
};

TEST_F(AuthCodeTest, SixCharactersAreTheCode) {
  StartRelay([](const RelayRequest&) { return Text("a1B2c3"); });
  EXPECT_EQ(RequestAuthCode(kUuid), "a1B2c3");
  const RelayRequest request = relay->Requests().at(0);
  EXPECT_EQ(request.target, "/api/olvarocloud/generate-magic.php");
  EXPECT_EQ(request.body, "uuid=" + kUuid);
  EXPECT_EQ(request.Header("content-type"), "application/x-www-form-urlencoded");
}

TEST_F(AuthCodeTest, SixCharactersCountAsCharactersNotBytes) {
  StartRelay([](const RelayRequest&) { return Text("\xC3\xA9" "bcdef"); });
  EXPECT_EQ(RequestAuthCode(kUuid), "\xC3\xA9" "bcdef");
}

TEST_F(AuthCodeTest, SevenCharactersOrAFailureGiveNoCode) {
  StartRelay([](const RelayRequest& request) {
    return request.body == "uuid=seven" ? Text("a1B2c3\n") : Text("a1B2c3", 403);
  });
  EXPECT_EQ(RequestAuthCode("seven"), "");
  EXPECT_EQ(RequestAuthCode("forbidden"), "");
}

TEST_F(AuthCodeTest, AnotherSuccessStatusReturnsTheBodyUnchanged) {
  StartRelay([](const RelayRequest&) { return Text("created", 201); });
  EXPECT_EQ(RequestAuthCode(kUuid), "created");
}

TEST_F(AuthCodeTest, ASilentServerGivesNoCodeAfterTwoSeconds) {
  StartRelay([](const RelayRequest&) {
    RelayResponse response;
    response.contentLength = 6;
    response.stream = [](RelayStream& stream) {
      if (stream.Pause(4000)) stream.Send("a1B2c3", 6);
    };
    return response;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RequestAuthCode(kUuid), "");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 1900ms);
  EXPECT_LT(waited, 3500ms);
}

}  // namespace
