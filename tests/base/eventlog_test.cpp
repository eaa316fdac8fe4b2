// The event log on a real disk and the history of received documents.
#include "base/documenthistory.h"
#include "base/eventlog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/clock.h"
#include "tests/support/testenv.h"

namespace {

TEST(FormatLocalTime, CalendarDatesAcrossLeapYearsAndCenturies) {
  EXPECT_EQ(FormatLocalTime(UnixTimeToFileTime(0, 0)), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatLocalTime(UnixTimeToFileTime(951782400, 0)), "2000-02-29 00:00:00");
  EXPECT_EQ(FormatLocalTime(UnixTimeToFileTime(1735689599, 999999999)), "2024-12-31 23:59:59");
  EXPECT_EQ(FormatLocalTime(UnixTimeToFileTime(4107542400, 0)), "2100-03-01 00:00:00");
  EXPECT_EQ(FormatLocalTime(0), "1601-01-01 00:00:00");
}

class EventLog : public testing::Test {
 protected:
  void SetUp() override { setenv("XDG_STATE_HOME", (env_.Root() + "state").c_str(), 1); }
  void TearDown() override { unsetenv("XDG_STATE_HOME"); }
  std::string LogFile() const { return env_.Root() + "state/OlvaroDesktop/olvaro-desktop.log"; }

  TestEnvironment env_;
};

TEST_F(EventLog, OneLineAnEventInThePrivateStateFolder) {
  EXPECT_EQ(EventLogPath(), LogFile());
  LogEvent("first event");
  LogEvent("a name with\r\na forged line\x1b[31m");
  const std::string text = ReadTestFile(LogFile()).value_or("");
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  // "YYYY-MM-DD hh:mm:ss " before each message.
  EXPECT_EQ(text.substr(4, 1) + text.substr(7, 1) + text.substr(13, 1) + text.substr(19, 1), "-- :") << text;
  EXPECT_NE(text.find(" first event\n"), std::string::npos);
  EXPECT_NE(text.find(" a name with  a forged line [31m\n"), std::string::npos) << text;
  EXPECT_EQ(std::filesystem::status(env_.Root() + "state/OlvaroDesktop").permissions(),
            std::filesystem::perms::owner_all);
}

TEST_F(EventLog, FullLogIsRotatedSoItStaysSmall) {
  const std::string line(1000, 'x');
  for (int i = 0; i < 1100; ++i) LogEvent(line);
  LogEvent("after the rotation");
  ASSERT_TRUE(std::filesystem::exists(LogFile() + ".1"));
  EXPECT_LT(std::filesystem::file_size(LogFile()), 1024u * 1024u);
  EXPECT_LE(std::filesystem::file_size(LogFile() + ".1"), 1024u * 1024u + 1100u);
  EXPECT_NE(ReadTestFile(LogFile()).value_or("").find("after the rotation"), std::string::npos);
}

TEST_F(EventLog, HistoryKeepsTheNewestDocumentsAndTellsTheListener) {
  std::vector<std::string> heard;
  SetDocumentListener([&heard](const DocumentRecord& record) { heard.push_back(record.name); });
  for (size_t i = 0; i < kRecentDocumentCount + 3; ++i) {
    RecordDocument({0, "doc" + std::to_string(i) + ".pdf", "192.168.1.5", "OfficeLaser", true, ""});
  }
  RecordDocument({0, "report.xyz", kCloudSource, "OfficeLaser", false, "no program here can print this kind of file"});
  SetDocumentListener(nullptr);

  const std::vector<DocumentRecord> recent = RecentDocuments();
  ASSERT_EQ(recent.size(), kRecentDocumentCount);
  EXPECT_EQ(recent.front().name, "report.xyz");
  EXPECT_EQ(recent.back().name, "doc4.pdf");
  EXPECT_GT(recent.front().time, 0u);
  EXPECT_EQ(heard.size(), kRecentDocumentCount + 4);
  const std::string text = ReadTestFile(LogFile()).value_or("");
  EXPECT_NE(text.find(" \"doc0.pdf\" from 192.168.1.5 printed on OfficeLaser\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" \"report.xyz\" from cloud not printed: no program here can print this kind of file\n"),
            std::string::npos);
}

}  // namespace
