// The print service as a phone sees it: the exact replies on a real socket, the spool
// files, and the jobs a real CUPS queue receives.
#include "base/documenthistory.h"
#include "base/spool.h"
#include "printservice/vostrelhttpserver.h"
#include "print/printers.h"
#include "base/hostinfo.h"
#include "base/version.h"
#include "tests/support/servicetest.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// One service for the whole suite: its engine takes a while to stop after a request.
class PrintProtocolTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    environment = std::make_unique<ServiceTestEnvironment>();
    port = FindFreePort();
    server = std::make_unique<CVostrelHttpServer>();
    server->Start(port);
  }
  static void TearDownTestSuite() {
    server.reset();
    environment.reset();
  }
  // Prints go to a queue that does not exist unless a test chooses the capturing one.
  void SetUp() override {
    setenv("LPDEST", "OlvaroNoSuchQueue", 1);
    ASSERT_TRUE(WaitForService(port, std::chrono::seconds(10)));
    before = SpoolNames();
  }

  // The names in the spool folder.
  static std::set<std::string> SpoolNames() {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(environment->SpoolFolder(), error)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // The names that appeared since the test began.
  std::set<std::string> NewSpoolNames() {
    std::set<std::string> names = SpoolNames();
    for (const auto& name : before) names.erase(name);
    return names;
  }

  // Uploads `body` on one connection; the whole answer.
  std::string Upload(const std::string& body, const std::vector<std::string>& headers) {
    return ExchangeWithService(port, PrintRequestHead(body.size(), headers) + body);
  }

  // A name no earlier run gave a job, so that captured jobs can be told apart.
  static std::string UniqueName(const std::string& stem, const std::string& extension) {
    return stem + "-" + std::to_string(getpid()) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + extension;
  }

  static inline std::unique_ptr<ServiceTestEnvironment> environment;
  static inline std::unique_ptr<CVostrelHttpServer> server;
  static inline uint16_t port = 0;
  std::set<std::string> before;
};

// The numbers of the jobs `queue` holds, pending and completed, as the spooler lists them.
std::vector<int> QueueJobIds(const std::string& queue) {
  std::vector<int> ids;
  const auto listing = ReadProgramOutput({"lpstat", "-W", "all", "-o", queue});
  std::istringstream lines(listing.value_or(""));
  for (std::string line; std::getline(lines, line);) {
    const std::string job = line.substr(0, line.find(' '));
    if (job.starts_with(queue + "-")) ids.push_back(std::stoi(job.substr(queue.size() + 1)));
  }
  return ids;
}

// How many jobs of `queue` are numbered above `last`.
size_t JobsAfter(const std::string& queue, int last) {
  const std::vector<int> ids = QueueJobIds(queue);
  return static_cast<size_t>(std::count_if(ids.begin(), ids.end(), [last](int id) { return id > last; }));
}

std::string BinaryBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return body;
}

TEST_F(PrintProtocolTest, InfoReplyIsExactForEveryMethod) {
  const std::string expected =
      "HTTP/1.1 204 No Content\r\n"
      "X-Hostname: " + GetLocalHostName() + "\r\n"
      "X-Not-Have: " + BuildNotHaveList() + "\r\n"
      "X-Desktop-Os: " + GetOsVersionString() + "\r\n"
      "Connection: close\r\n"
      "X-Desktop-App-Version: " + std::string(kProductVersion) + "\r\n"
      "X-Cloud-Uuid: " + std::string(ServiceTestEnvironment::kCloudUuid) + "\r\n\r\n";
  EXPECT_EQ(ExchangeWithService(port, "GET /info HTTP/1.1\r\n\r\n"), expected);
  EXPECT_EQ(ExchangeWithService(port, "GET /info?x=1 HTTP/1.1\r\n\r\n"), expected);
  EXPECT_EQ(ExchangeWithService(port, "HEAD /info HTTP/1.1\r\n\r\n"), expected);
  // A body sent to "/info" is read and dropped.
  EXPECT_EQ(ExchangeWithService(port, "POST /info HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"), expected);
}

TEST_F(PrintProtocolTest, ProgramFolderIsNeitherListedNorServed) {
  const std::string landing = ExchangeWithService(port, "GET / HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(landing.starts_with("HTTP/1.1 200 OK\r\n")) << landing;
  EXPECT_EQ(landing.find("printservice_protocol_test"), std::string::npos) << landing;
  // Not the program itself, nor anything else of its folder.
  const std::string program = ExchangeWithService(port, "GET /printservice_protocol_test HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(program.starts_with("HTTP/1.1 404 ")) << program.substr(0, 200);
}

TEST_F(PrintProtocolTest, UploadBrokenOffLeavesNothingBehind) {
  {
    PhoneConnection phone(port);
    ASSERT_TRUE(phone.Send(PrintRequestHead(100000, {"X-FileName: brokenoff.pdf"}) + std::string(30000, 'x')));
    // Everything sent has arrived before the phone goes away.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!NewSpoolNames().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(NewSpoolNames().empty());
}

TEST_F(PrintProtocolTest, PrintWithoutBodyAnswersMinus4) {
  EXPECT_EQ(ExchangeWithService(port, "GET /print HTTP/1.1\r\n\r\n"), ExpectedPrintReply(65535, -4));
  EXPECT_EQ(ExchangeWithService(port, "DELETE /print HTTP/1.1\r\n\r\n"), ExpectedPrintReply(65535, -4));
  EXPECT_TRUE(NewSpoolNames().empty());
}

TEST_F(PrintProtocolTest, UploadLandsByteIdenticalInTheSpoolFolder) {
  const std::string body = BinaryBody(300000);
  EXPECT_EQ(Upload(body, {"X-FileName: report.pdf", "X-Copies: 1"}), ExpectedPrintReply(0, 200));
  EXPECT_EQ(NewSpoolNames(), std::set<std::string>{"report.pdf"});
  EXPECT_EQ(ReadTestFile(environment->SpoolFolder() + "report.pdf"), body);

  // The same name again gets the next free name, and an empty body an empty file.
  EXPECT_EQ(Upload("", {"X-FileName: report.pdf"}), ExpectedPrintReply(0, 200));
  EXPECT_EQ(NewSpoolNames(), (std::set<std::string>{"report.pdf", "report 2.pdf"}));
  EXPECT_EQ(ReadTestFile(environment->SpoolFolder() + "report 2.pdf"), "");
}

TEST_F(PrintProtocolTest, FileNamesBecomeSafeSpoolNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"X-FileName: ../../x.pdf", ".._.._x.pdf"},
      {"X-FileName: Příliš žluťoučký kůň.pdf", "Příliš žluťoučký kůň.pdf"},
      {"X-FileName: a:b<c>?.pdf", "a_b_c__.pdf"},
      // Not UTF-8: the name counts as empty.
      {"X-FileName: caf\xE9.pdf", " 2"},
      {"X-FileName: \xC0\xAF\xC0\xAFpasswd", " 3"},
      {"X-Copies: 1", "file"},
  };
  for (const auto& [header, spoolName] : cases) {
    before = SpoolNames();
    // Bytes of no known type: nothing tries to convert them for printing.
    const std::string body = std::string("\0\1\2\3", 4) + spoolName;
    EXPECT_EQ(Upload(body, {header}), ExpectedPrintReply(0, 200)) << header;
    EXPECT_EQ(NewSpoolNames(), std::set<std::string>{spoolName}) << header;
    EXPECT_EQ(ReadTestFile(environment->SpoolFolder() + spoolName), body) << header;
  }
}

TEST_F(PrintProtocolTest, UnsafeSpoolFolderAnswersMinus1WithoutReadingTheBody) {
  ASSERT_EQ(chmod(environment->SpoolFolder().c_str(), 0755), 0);
  PhoneConnection phone(port);
  // Only the head is sent: the answer must come without the body.
  ASSERT_TRUE(phone.Send(PrintRequestHead(1000, {"X-FileName: refused.pdf"})));
  EXPECT_EQ(phone.ReadToEnd(), ExpectedPrintReply(65535, -1));
  chmod(environment->SpoolFolder().c_str(), 0700);
  EXPECT_TRUE(NewSpoolNames().empty());
}

TEST_F(PrintProtocolTest, FailedWriteAnswersMinus2AndClosesTheFile) {
  // Files of this process may grow to 64 KiB; the upload is far larger, so the refusal
  // comes while the phone is still sending.
  signal(SIGXFSZ, SIG_IGN);
  rlimit original{};
  getrlimit(RLIMIT_FSIZE, &original);
  rlimit limited = original;
  limited.rlim_cur = 65536;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const std::string reply = Upload(BinaryBody(8000000), {"X-FileName: toolarge.pdf"});
  setrlimit(RLIMIT_FSIZE, &original);

  // The handler's reply comes first; the engine may add its own after it.
  EXPECT_TRUE(reply.starts_with(ExpectedPrintReply(65535, -2))) << reply;
  const std::string spoolFile = environment->SpoolFolder() + "toolarge.pdf";
  EXPECT_FALSE(std::filesystem::exists(spoolFile)) << "the partial file stays behind";
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    EXPECT_NE(std::filesystem::read_symlink(entry.path(), error).string(), spoolFile);
  }
  // The next upload is served normally.
  EXPECT_EQ(Upload("after", {"X-FileName: after.pdf"}), ExpectedPrintReply(0, 200));
}

TEST_F(PrintProtocolTest, UploadThatDoesNotFitTheDiskIsRefusedAtItsBegin) {
  const std::string small = environment->Root() + "small/";
  std::filesystem::create_directories(small);
  SKIP_WITHOUT_SERVICE(RunTestProgram({"mount", "-t", "tmpfs", "-o", "size=48m", "tmpfs", small}) == 0,
                       "mounting a small file system needs root");
  setenv("TMPDIR", small.c_str(), 1);
  PhoneConnection phone(port);
  // The whole document is sent before the reply is read, as phones do: the refusal
  // comes at once and is the connection's only reply, read once the body is gone.
  const bool sent = phone.Send(PrintRequestHead(40 * 1024 * 1024, {"X-FileName: huge.pdf"}) + BinaryBody(40 * 1024 * 1024));
  const std::string refusal = phone.ReadToEnd();
  const std::string fitting = Upload(BinaryBody(1024 * 1024), {"X-FileName: fits.pdf"});
  std::error_code error;
  const auto left = std::distance(std::filesystem::directory_iterator(small + "OlvaroDesktop", error),
                                  std::filesystem::directory_iterator());
  setenv("TMPDIR", environment->TempFolder().c_str(), 1);
  RunTestProgram({"umount", small});

  EXPECT_TRUE(sent);
  EXPECT_EQ(refusal, ExpectedPrintReply(65535, -1));
  EXPECT_EQ(fitting, ExpectedPrintReply(0, 200));
  EXPECT_EQ(left, 1) << "only the document that fits is stored";
}

TEST_F(PrintProtocolTest, WhatBecameOfADocumentIsRecordedWithItsReason) {
  SKIP_WITHOUT_SERVICE(CaptureQueueReady(), "cupsd or " << kServiceTestQueue << " missing");
  setenv("LPDEST", kServiceTestQueue.c_str(), 1);
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) % 256);
  EXPECT_EQ(Upload(binary, {"X-FileName: firmware.xyz"}), ExpectedPrintReply(0, 200));
  const std::vector<DocumentRecord> recent = RecentDocuments();
  ASSERT_FALSE(recent.empty());
  EXPECT_EQ(recent.front().name, "firmware.xyz");
  EXPECT_EQ(recent.front().source, "127.0.0.1");
  EXPECT_EQ(recent.front().printer, kServiceTestQueue);
  EXPECT_FALSE(recent.front().printed);
  EXPECT_EQ(recent.front().reason, "no program here can print this kind of file");
}

TEST_F(PrintProtocolTest, LargeUploadWithExpectContinueFromCurl) {
  const std::string body = BinaryBody(8 * 1024 * 1024 + 13);
  const std::string source = environment->Root() + "large.pdf";
  ASSERT_TRUE(WriteTestFile(source, body));
  const auto headers = ReadProgramOutput(
      {"curl", "-sS", "--noproxy", "*", "-D", "-", "-o", "/dev/null", "-H", "X-FileName: large.pdf",
       "-H", "Expect: 100-continue", "--data-binary", "@" + source,
       "http://127.0.0.1:" + std::to_string(port) + "/print"});
  ASSERT_TRUE(headers.has_value());
  EXPECT_EQ(*headers, "HTTP/1.1 100 Continue\r\n\r\n" + ExpectedPrintReply(0, 200));
  EXPECT_TRUE(ReadTestFile(environment->SpoolFolder() + "large.pdf") == body) << "spool file differs";
}

TEST_F(PrintProtocolTest, OverlappingUploadsKeepTheirOwnFileAndCopies) {
  SKIP_WITHOUT_SERVICE(CaptureQueueReady(), "cupsd or " << kServiceTestQueue << " missing");
  setenv("LPDEST", kServiceTestQueue.c_str(), 1);
  const std::string name = UniqueName("same", ".pdf");
  const std::string stem = name.substr(0, name.size() - 4);
  const std::string first = MakeTestPdf("first upload");
  const std::string second = MakeTestPdf("second upload, two copies");

  PhoneConnection one(port);
  ASSERT_TRUE(one.Send(PrintRequestHead(first.size(), {"X-FileName: " + name, "X-Copies: 1"}) +
                       first.substr(0, 100)));
  // The first upload's file exists before the second begins.
  for (int i = 0; i < 100 && !SpoolNames().contains(name); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  PhoneConnection two(port);
  ASSERT_TRUE(two.Send(PrintRequestHead(second.size(), {"X-FileName: " + name, "X-Copies: 2"}) +
                       second.substr(0, 100)));
  ASSERT_TRUE(two.Send(second.substr(100)));
  EXPECT_EQ(two.ReadToEnd(), ExpectedPrintReply(0, 200));
  ASSERT_TRUE(one.Send(first.substr(100)));
  EXPECT_EQ(one.ReadToEnd(), ExpectedPrintReply(0, 200));

  EXPECT_EQ(ReadTestFile(environment->SpoolFolder() + name), first);
  EXPECT_EQ(ReadTestFile(environment->SpoolFolder() + stem + " 2.pdf"), second);
  EXPECT_EQ(WaitForCapturedJobs(kServiceTestQueue, stem + " 2.pdf", 2, std::chrono::seconds(60)).size(), 2u);
  EXPECT_EQ(WaitForCapturedJobs(kServiceTestQueue, name, 1, std::chrono::seconds(60)).size(), 1u);
}

TEST_F(PrintProtocolTest, CopyCountDecidesHowManyJobsArePrinted) {
  SKIP_WITHOUT_SERVICE(CaptureQueueReady(), "cupsd or " << kServiceTestQueue << " missing");
  setenv("LPDEST", kServiceTestQueue.c_str(), 1);
  const std::pair<std::string, size_t> cases[] = {{"100", 1}, {"abc", 1}, {"  3", 3}};
  std::vector<std::pair<std::string, size_t>> titles;
  for (const auto& [copies, jobs] : cases) {
    const std::string name = UniqueName("copies", ".pdf");
    const std::vector<int> earlier = QueueJobIds(kServiceTestQueue);
    const int last = earlier.empty() ? 0 : *std::max_element(earlier.begin(), earlier.end());
    EXPECT_EQ(Upload(MakeTestPdf("copies " + copies), {"X-FileName: " + name, "X-Copies: " + copies}),
              ExpectedPrintReply(0, 200));
    // The connection closes only after every copy was handed to the spooler.
    EXPECT_GE(JobsAfter(kServiceTestQueue, last), jobs) << "copies " << copies;
    titles.emplace_back(name, jobs);
  }
  for (const auto& [title, jobs] : titles) {
    EXPECT_EQ(WaitForCapturedJobs(kServiceTestQueue, title, jobs, std::chrono::seconds(60)).size(), jobs) << title;
  }
  // Nothing more arrives for the capped counts once the queue is idle.
  EXPECT_EQ(WaitForCapturedJobs(kServiceTestQueue, titles[0].first, 2, std::chrono::seconds(3)).size(), 1u);
}

}  // namespace
