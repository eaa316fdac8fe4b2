#include "cloud/printercloud.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "tests/cloud/cloudfakes.h"
#include "tests/cloud/relaytestenv.h"

namespace {

using Events = std::vector<std::string>;

const std::string kUuid = "cd345678-1234-1234-1234-123456789012";
const std::string kUploadPath = "/api/olvarocloud/upload/";

// Document bytes that show where a wrong range was written.
std::string Document(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
  return bytes;
}

class TransferTest : public ::testing::Test {
protected:
  void SetUp() override {
    relay = std::make_unique<TestRelayServer>([this](const RelayRequest& request) { return Answer(request); });
    environment.UseApiServer(relay->BaseUrl());
    poller = std::make_unique<TPrinterCloud>(sink, kUuid, desktop.Environment());
  }

  RelayResponse Answer(const RelayRequest& request) const {
    if (request.target == kUploadPath + "endless") return EndlessBody();
    RelayResponse response;
    if (request.target.rfind(kUploadPath, 0) == 0) {
      const auto found = uploads.find(request.target.substr(kUploadPath.size()));
      if (found == uploads.end()) response.status = 404;
      else response.body = found->second;
    } else if (request.target == "/files/moved") {
      response.body = Document(10);
    } else if (request.target == "/api/olvarocloud/mark.php") {
      response.status = markStatus;
    } else {
      response.status = 404;
    }
    if (request.target == kUploadPath + "redirected") {
      response.status = 302;
      response.headers = {{"Location", "/files/moved"}};
    }
    return response;
  }

  std::string Spool() const { return environment.Root() + "tmp/OlvaroDesktop/"; }
  bool InSpool(const std::string& name) const { return std::filesystem::exists(Spool() + name); }
  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    for (const RelayRequest& request : relay->Requests()) targets.push_back(request.target);
    return targets;
  }
  size_t PrintCount(const std::string& name) {
    const auto printed = desktop.Printed();
    return static_cast<size_t>(std::count(printed.begin(), printed.end(), Spool() + name));
  }

  RelayTestEnvironment environment;
  std::map<std::string, std::string> uploads;
  int markStatus = 200;
  std::unique_ptr<TestRelayServer> relay;
  RecordingSink sink;
  FakeDesktop desktop;
  std::unique_ptr<TPrinterCloud> poller;
};

TEST_F(TransferTest, AFullDownloadIsAcknowledgedAndThenPrintedPerCopy) {
  uploads["k1"] = Document(2048);
  poller->ProcessQueue("k1\tsrv-1.pdf\treport.pdf\t2048\tx\t2\n");
  EXPECT_EQ(ReadTestFile(Spool() + "CloudPrint_0_report.pdf"), Document(2048));
  const auto requests = relay->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, kUploadPath + "k1");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].target, "/api/olvarocloud/mark.php");
  EXPECT_EQ(requests[1].body, "uuid=" + kUuid + "&file=srv-1.pdf");
  EXPECT_EQ(desktop.Printed(), Events(2, Spool() + "CloudPrint_0_report.pdf"));
  EXPECT_EQ(sink.Events(), (Events{"state1", "state1"}));
}

TEST_F(TransferTest, AShortDownloadStaysUnacknowledgedAndUnprintedAndTheNextJobFollows) {
  uploads["short"] = Document(2047);
  uploads["next"] = Document(3);
  poller->ProcessQueue("short\ts1\treport.pdf\t2048\tx\t2\nnext\ts2\tnext.txt\t3\n");
  EXPECT_EQ(std::filesystem::file_size(Spool() + "CloudPrint_0_report.pdf"), 2047u);
  EXPECT_EQ(Targets(), (Events{kUploadPath + "short", kUploadPath + "next", "/api/olvarocloud/mark.php"}));
  EXPECT_EQ(PrintCount("CloudPrint_0_report.pdf"), 0u);
  EXPECT_EQ(PrintCount("CloudPrint_1_next.txt"), 1u);
}

TEST_F(TransferTest, AFailedDownloadLeavesNoFileAndReportsNotConnected) {
  uploads["next"] = Document(3);
  poller->ProcessQueue("gone\ts1\tlost.pdf\t10\nnext\ts2\tnext.txt\t3\n");
  EXPECT_FALSE(InSpool("CloudPrint_0_lost.pdf"));
  EXPECT_EQ(sink.Events(), (Events{"state0", "state1", "state1"}));
  EXPECT_EQ(PrintCount("CloudPrint_1_next.txt"), 1u);
}

TEST_F(TransferTest, AFailedAcknowledgementPreventsPrinting) {
  uploads["k"] = Document(4);
  markStatus = 500;
  poller->ProcessQueue("k\ts\tdoc.pdf\t4\t\t5");
  EXPECT_TRUE(InSpool("CloudPrint_0_doc.pdf"));
  EXPECT_TRUE(desktop.Printed().empty());
  EXPECT_EQ(sink.Events(), (Events{"state1", "state0"}));
}

TEST_F(TransferTest, EqualNamesAtTwoPositionsGetTwoFiles) {
  uploads["a"] = "AAAA";
  uploads["b"] = "BBBB";
  poller->ProcessQueue("a\ts1\tsame.pdf\t4\nb\ts2\tsame.pdf\t4\n");
  EXPECT_EQ(ReadTestFile(Spool() + "CloudPrint_0_same.pdf"), "AAAA");
  EXPECT_EQ(ReadTestFile(Spool() + "CloudPrint_1_same.pdf"), "BBBB");
}

TEST_F(TransferTest, AnEarlierFileOfTheSameNameIsReplaced) {
  std::filesystem::create_directories(Spool());
  ASSERT_TRUE(WriteTestFile(Spool() + "CloudPrint_0_doc.pdf", "an older and longer document"));
  uploads["k"] = "new!";
  poller->ProcessQueue("k\ts\tdoc.pdf\t4\n");
  EXPECT_EQ(ReadTestFile(Spool() + "CloudPrint_0_doc.pdf"), "new!");
  EXPECT_EQ(PrintCount("CloudPrint_0_doc.pdf"), 1u);
}

TEST_F(TransferTest, TheAnswerZeroHoldsNoJob) {
  poller->ProcessQueue("0");
  EXPECT_TRUE(relay->Requests().empty());
  EXPECT_TRUE(sink.Events().empty());
  EXPECT_FALSE(std::filesystem::exists(Spool()) && !std::filesystem::is_empty(Spool()));
}

TEST_F(TransferTest, CopiesOutsideOneTo99MeanOneCopy) {
  uploads["k"] = "1234";
  const std::vector<std::pair<std::string, size_t>> cases = {
      {"k\ts\tnone.pdf\t4\tx\n", 1},  {"k\ts\tzero.pdf\t4\tx\t0\n", 1},
      {"k\ts\thundred.pdf\t4\tx\t100\n", 1}, {"k\ts\tminus.pdf\t4\tx\t-3\n", 1},
      {"k\ts\tmost.pdf\t4\tx\t99\n", 99}, {"k\ts\tlast.pdf\t4\tx\t12", 12},
      {"k\ts\textra.pdf\t4\tx\t7\tignored\tfields\n", 7}};
  for (const auto& [line, copies] : cases) {
    const std::string name = "CloudPrint_0_" + line.substr(4, line.find('\t', 4) - 4);
    poller->ProcessQueue(line);
    EXPECT_EQ(PrintCount(name), copies) << line;
  }
}

TEST_F(TransferTest, AJobThatCannotBeCreatedIsSkippedAndTheNextOneRuns) {
  // A non-empty folder holds the first job's name, so no file can be made there.
  std::filesystem::create_directories(Spool() + "CloudPrint_0_blocked.pdf/inside");
  uploads["first"] = "1111";
  uploads["second"] = "2222";
  poller->ProcessQueue("first\ts1\tblocked.pdf\t4\nsecond\ts2\tsecond.pdf\t4\n");
  EXPECT_EQ(Targets(), (Events{kUploadPath + "second", "/api/olvarocloud/mark.php"}));
  EXPECT_EQ(PrintCount("CloudPrint_1_second.pdf"), 1u);
}

TEST_F(TransferTest, AJobWithoutADocumentNameIsSkippedWithoutARequest) {
  uploads["k"] = "1234";
  poller->ProcessQueue("k\ts\nk\ts\t\t4\nk\ts\tnamed.pdf\t4\n");
  EXPECT_EQ(Targets(), (Events{kUploadPath + "k", "/api/olvarocloud/mark.php"}));
  EXPECT_EQ(desktop.Printed(), Events{Spool() + "CloudPrint_2_named.pdf"});
  EXPECT_FALSE(InSpool("CloudPrint_0_"));
  EXPECT_FALSE(InSpool("CloudPrint_1_"));
}

TEST_F(TransferTest, APrintCallThatThrowsEndsTheCopiesOfItsJobOnly) {
  CloudEnvironment throwing = desktop.Environment();
  int calls = 0;
  throwing.printFile = [&calls, print = throwing.printFile](const std::string& path) {
    if (++calls == 2) throw std::runtime_error("printer gone");
    return print(path);
  };
  TPrinterCloud thrower(sink, kUuid, throwing);
  uploads["a"] = "AAAA";
  uploads["b"] = "BBBB";
  thrower.ProcessQueue("a\ts1\tfirst.pdf\t4\tx\t5\nb\ts2\tsecond.pdf\t4\n");
  EXPECT_EQ(PrintCount("CloudPrint_0_first.pdf"), 1u);
  EXPECT_EQ(PrintCount("CloudPrint_1_second.pdf"), 1u);
  EXPECT_EQ(sink.Events(), (Events{"state1", "state1", "state0", "state1", "state1"}));
}

TEST_F(TransferTest, RedirectedDownloadsAreFollowed) {
  poller->ProcessQueue("redirected\ts\tmoved.pdf\t10\n");
  EXPECT_EQ(ReadTestFile(Spool() + "CloudPrint_0_moved.pdf"), Document(10));
  EXPECT_EQ(PrintCount("CloudPrint_0_moved.pdf"), 1u);
}

TEST_F(TransferTest, ABodyLongerThanAnnouncedIsAFailedDownloadThatLeavesNoFile) {
  uploads["long"] = Document(2049);
  uploads["next"] = Document(3);
  poller->ProcessQueue("long\ts1\tlong.pdf\t2048\nendless\ts2\tendless.pdf\t4096\nnext\ts3\tnext.txt\t3\n");
  EXPECT_FALSE(InSpool("CloudPrint_0_long.pdf"));
  EXPECT_FALSE(InSpool("CloudPrint_1_endless.pdf"));
  EXPECT_EQ(Targets(), (Events{kUploadPath + "long", kUploadPath + "endless", kUploadPath + "next",
                               "/api/olvarocloud/mark.php"}));
  EXPECT_EQ(desktop.Printed(), Events{Spool() + "CloudPrint_2_next.txt"});
}

TEST_F(TransferTest, HostileDocumentNamesStayInsideTheSpoolFolder) {
  uploads["k"] = "evil";
  const std::string longBase(400, 'n');
  poller->ProcessQueue("k\ts\t../../.bashrc\t4\nk\ts\ta/b.pdf\t4\nk\ts\t" + longBase + ".pdf\t4\n" +
                       std::string("k\ts\tx\0/../y.pdf\t4\n", 18));
  EXPECT_FALSE(std::filesystem::exists(environment.Root() + ".bashrc"));
  EXPECT_FALSE(std::filesystem::exists(environment.Root() + "tmp/.bashrc"));
  EXPECT_EQ(ReadTestFile(Spool() + "CloudPrint_0_.._.._.bashrc"), "evil");
  EXPECT_EQ(ReadTestFile(Spool() + "CloudPrint_1_a_b.pdf"), "evil");
  const std::string fitted = "CloudPrint_2_" + std::string(255 - 13 - 4, 'n') + ".pdf";
  EXPECT_EQ(ReadTestFile(Spool() + fitted), "evil");
  EXPECT_EQ(ReadTestFile(Spool() + "CloudPrint_3_x"), "evil");
  EXPECT_EQ(desktop.Printed().size(), 4u);
  for (const std::string& path : desktop.Printed()) EXPECT_EQ(path.rfind(Spool(), 0), 0u) << path;
}

TEST_F(TransferTest, UnreadableLinesAreSkippedWithoutARequest) {
  uploads["ok"] = "fine";
  poller->ProcessQueue(
      "\n\nbad-size\ts\ta.pdf\tabc\nbad-copies\ts\tb.pdf\t4\tx\t2x\nhuge\ts\tc.pdf\t99999999999\n"
      "empty-size\ts\td.pdf\t\tx\t1\ncr\ts\te.pdf\t4\tx\t1\r\nok\ts\tok.pdf\t4\n");
  EXPECT_EQ(Targets(), (Events{kUploadPath + "ok", "/api/olvarocloud/mark.php"}));
  EXPECT_EQ(PrintCount("CloudPrint_7_ok.pdf"), 1u);
}

TEST_F(TransferTest, NothingIsWrittenIntoASpoolFolderThatIsNotPrivate) {
  std::filesystem::create_directories(Spool());
  ASSERT_EQ(chmod(Spool().c_str(), 0755), 0);
  uploads["k"] = "data";
  poller->ProcessQueue("k\ts\tdoc.pdf\t4\n");
  EXPECT_TRUE(relay->Requests().empty());
  EXPECT_FALSE(InSpool("CloudPrint_0_doc.pdf"));
}

TEST(SplitTextTest, FollowsTheRelaysSplittingRules) {
  using Items = std::vector<std::string>;
  EXPECT_EQ(SplitText("", '\t'), Items{});
  EXPECT_EQ(SplitText("a\tb\t", '\t'), (Items{"a", "b"}));
  EXPECT_EQ(SplitText("a\t\tb", '\t'), (Items{"a", "", "b"}));
  EXPECT_EQ(SplitText("0", '\n'), Items{});
  EXPECT_EQ(SplitText("x", '\n'), Items{"x"});
  EXPECT_EQ(SplitText("\t", '\t'), Items{});
  EXPECT_EQ(SplitText("a\tb\t0", '\t'), (Items{"a", "b"}));
  EXPECT_EQ(SplitText("a\tb\t10", '\t'), (Items{"a", "b", "10"}));
  EXPECT_EQ(SplitText("one\ntwo\n\nthree", '\n'), (Items{"one", "two", "", "three"}));
}

TEST(ParseQueueLineTest, FillsTheTaskFromTheFieldsByPosition) {
  QueueTask task;
  ASSERT_TRUE(ParseQueueLine("key\tsrv.pdf\treport.pdf\t2048\tfree\t+2", 4, task));
  EXPECT_EQ(task.id, "key");
  EXPECT_EQ(task.file, "srv.pdf");
  EXPECT_EQ(task.localName, "CloudPrint_4_report.pdf");
  EXPECT_EQ(task.size, 2048);
  EXPECT_EQ(task.copies, 2);

  ASSERT_TRUE(ParseQueueLine("key\tsrv\tdoc.pdf", 0, task));
  EXPECT_EQ(task.localName, "CloudPrint_0_doc.pdf");
  EXPECT_EQ(task.size, 0);
  EXPECT_EQ(task.copies, 1);

  EXPECT_FALSE(ParseQueueLine("key\tsrv", 0, task));
  EXPECT_FALSE(ParseQueueLine("key\tsrv\t\t4", 0, task));

  EXPECT_TRUE(ParseQueueLine("k\ts\tn\t2147483647\tx\t99", 0, task));
  EXPECT_EQ(task.size, 2147483647);
  EXPECT_FALSE(ParseQueueLine("k\ts\tn\t2147483648", 0, task));
  EXPECT_FALSE(ParseQueueLine("k\ts\tn\t-2147483649", 0, task));
  EXPECT_FALSE(ParseQueueLine("k\ts\tn\t 4", 0, task));
  EXPECT_FALSE(ParseQueueLine("k\ts\tn\t4\tx\t+-2", 0, task));
  EXPECT_FALSE(ParseQueueLine("", 0, task));
}

}  // namespace
