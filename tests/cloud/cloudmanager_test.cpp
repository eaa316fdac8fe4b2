#include "cloud/cloudmanager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/settings.h"
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
  EXPECT_EQ(GetCloudUuid(), kUuid);
  EXPECT_EQ(ReadMagicValue(), kUuid);
  const RelayRequest request = relay->Requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/api/olvarocloud/generate-uuid.php");
  EXPECT_EQ(request.body, "");
  EXPECT_EQ(request.Header("content-type"), "application/x-www-form-urlencoded");

  EXPECT_EQ(GetCloudUuid(), kUuid);
  EXPECT_EQ(RequestCount(), 1u);
}

TEST_F(CloudIdentityTest, AStoredIdentityOf36CharactersIsUsedWithoutAsking) {
  StartRelay(kUuid);
  const std::string odd = "no hex, no dashes: just 36 chars ok!";
  ASSERT_EQ(odd.size(), 36u);
  ASSERT_TRUE(WriteSettingString("Magic", odd));
  EXPECT_EQ(GetCloudUuid(), odd);
  EXPECT_EQ(RequestCount(), 0u);
}

TEST_F(CloudIdentityTest, StoredValuesOf35Or37CharactersAreReplaced) {
  StartRelay(kUuid);
  for (const std::string& stored : {kUuid.substr(1), kUuid + "0"}) {
    ASSERT_TRUE(WriteSettingString("Magic", stored));
    EXPECT_EQ(GetCloudUuid(), kUuid) << stored;
    EXPECT_EQ(ReadMagicValue(), kUuid);
  }
  EXPECT_EQ(RequestCount(), 2u);
}

TEST_F(CloudIdentityTest, AnUnreachableServerStoresZeroWhichALaterCallReplaces) {
  RefusingPort nowhere;
  environment.UseApiServer(nowhere.BaseUrl());
  EXPECT_EQ(GetCloudUuid(), "0");
  EXPECT_EQ(ReadMagicValue(), "0");

  StartRelay(kUuid);
  EXPECT_EQ(GetCloudUuid(), kUuid);
  EXPECT_EQ(ReadMagicValue(), kUuid);
}

TEST_F(CloudIdentityTest, AnErrorStatusGivesZero) {
  relay = std::make_unique<TestRelayServer>([](const RelayRequest&) { return Text(kUuid, 500); });
  environment.UseApiServer(relay->BaseUrl());
  EXPECT_EQ(RequestCloudUuid(), "0");
}

TEST_F(CloudIdentityTest, OddAnswersAreStoredAsTheyCameAndAskedForAgain) {
  StartRelay("");
  EXPECT_EQ(GetCloudUuid(), "");
  EXPECT_EQ(GetCloudUuid(), "");
  EXPECT_EQ(RequestCount(), 2u);
}

TEST_F(CloudIdentityTest, CallersWithoutIdentityAtTheSameTimeShareOneRequest) {
  std::atomic<int> issued{0};
  relay = std::make_unique<TestRelayServer>([&issued](const RelayRequest&) {
    std::this_thread::sleep_for(300ms);  // keep the first request open while the others arrive
    return Text(kUuid.substr(0, 35) + std::to_string(issued++ % 10));
  });
  environment.UseApiServer(relay->BaseUrl());
  std::vector<std::string> results(4);
  std::vector<std::thread> callers;
  for (std::string& result : results) callers.emplace_back([&result] { result = GetCloudUuid(); });
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(RequestCount(), 1u);
  for (const std::string& result : results) EXPECT_EQ(result, ReadMagicValue());
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
