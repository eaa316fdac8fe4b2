#include "update/updatecheck.h"

#include <climits>
#include <cstdlib>

#include <gtest/gtest.h>

#include "base/settings.h"
#include "tests/support/httpsrelay.h"
#include "tests/support/testenv.h"

namespace {

constexpr char kVersionFile[] = "/up/print/win_appcast.txt";

TEST(ReadVersionNumber, ReadsTheFirstNumberLikePercentD) {
  EXPECT_EQ(ReadVersionNumber("137"), 137);
  EXPECT_EQ(ReadVersionNumber(" \t\n140\n"), 140);
  EXPECT_EQ(ReadVersionNumber("1.3.7"), 1);
  EXPECT_EQ(ReadVersionNumber("+138x"), 138);
  EXPECT_EQ(ReadVersionNumber("-5"), -5);
  EXPECT_EQ(ReadVersionNumber(""), 0);
  EXPECT_EQ(ReadVersionNumber("version 137"), 0);
  EXPECT_EQ(ReadVersionNumber("- 137"), 0);
  EXPECT_EQ(ReadVersionNumber("99999999999999999999"), INT_MAX);
  EXPECT_EQ(ReadVersionNumber("-99999999999999999999"), INT_MIN);
}

// Each case runs against its own update server on loopback, in a fresh settings tree.
class UpdateCheckTest : public testing::Test {
 protected:
  void TearDown() override { unsetenv("OLVARO_UPDATE_URL"); }

  // Runs one check against `server`; true when the notice was offered.
  bool Check(const std::string& base) {
    setenv("OLVARO_UPDATE_URL", base.c_str(), 1);
    bool offered = false;
    UpdateCheckThread([&offered] { offered = true; });
    return offered;
  }

  bool TimeStored() { return ReadLastUpdateCheckTime() != 0; }

  TestEnvironment environment;
};

struct Case {
  int status;
  std::string body;
  bool stored;
  bool offered;
};

TEST_F(UpdateCheckTest, AnswersDecideTimeAndNotice) {
  const std::vector<Case> cases = {
      {200, "137", true, true},   {200, "136", true, false},  {200, "100", true, false},
      {200, " 140\n", true, true}, {200, "1.3.7", true, false}, {200, "0", false, false},
      {200, "", false, false},    {200, "no version here", false, false},
      {404, "137", false, false}, {500, "137", false, false},
  };
  for (const Case& c : cases) {
    WriteLastUpdateCheckTime(0);
    TestRelayServer server(
        [&c](const RelayRequest&) {
          RelayResponse response;
          response.status = c.status;
          response.body = c.body;
          return response;
        },
        TestRelayServer::Scheme::Http);
    EXPECT_EQ(Check(server.BaseUrl()), c.offered) << c.status << " '" << c.body << "'";
    EXPECT_EQ(TimeStored(), c.stored) << c.status << " '" << c.body << "'";
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, kVersionFile);
    EXPECT_EQ(requests[0].Header("host"), "127.0.0.1:" + std::to_string(server.Port()));
  }
}

TEST_F(UpdateCheckTest, NoServerStoresNothing) {
  RefusingPort refusing;
  EXPECT_FALSE(Check(refusing.BaseUrl("http")));
  EXPECT_FALSE(TimeStored());
  EXPECT_EQ(FetchLatestVersionNumber(), 0);
}

TEST_F(UpdateCheckTest, RedirectIsFollowedAndItsBodyCounts) {
  TestRelayServer server(
      [](const RelayRequest& request) {
        RelayResponse response;
        if (request.target == kVersionFile) {
          response.status = 302;
          response.headers.push_back({"Location", "/moved/appcast.txt"});
        } else {
          response.body = "138";
        }
        return response;
      },
      TestRelayServer::Scheme::Http);
  EXPECT_TRUE(Check(server.BaseUrl()));
  EXPECT_TRUE(TimeStored());
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[1].target, "/moved/appcast.txt");
}

TEST_F(UpdateCheckTest, DownloadPageIsOnTheUpdateServer) {
  setenv("OLVARO_UPDATE_URL", "http://127.0.0.1:8123/", 1);
  EXPECT_EQ(GetDownloadPageUrl(), "http://127.0.0.1:8123/up/print/win_downloadurl.php");
}

}  // namespace
