// Documents through PrintFile into the real spooler's capturing queues.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPainter>
#include <QPdfWriter>

#include "print/printer.h"
#include "print/printers.h"
#include "tests/print/printtestsupport.h"
#include "tests/support/testenv.h"

namespace {

constexpr std::chrono::seconds kJobTimeout(60);
// LibreOffice starts a fresh profile first; Chromium is quicker.
constexpr std::chrono::seconds kRendererTimeout(180);

// A one-page PDF with a filled square, made without any font.
std::string MakePdf(const std::string& name) {
  const std::string path = WriteFileInRoot(name, "");
  QPdfWriter writer(QString::fromStdString(path));
  QPainter painter(&writer);
  painter.fillRect(QRect(0, 0, 2000, 2000), Qt::black);
  return path;
}

using PrintEngineTest = QueueATest;

TEST_F(PrintEngineTest, PdfArrivesAsOnePdfJobWhateverTheNameLooksLike) {
  const QueueCapture capture(kQueueA);
  // Upper-case extension; a name that looks like an option stays a file name.
  EXPECT_TRUE(PrintFile(MakePdf("REPORT.PDF")));
  EXPECT_TRUE(PrintFile(MakePdf("-p.pdf")));

  const auto jobs = capture.WaitForJobs(2, kJobTimeout);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].type, "application/pdf");
  EXPECT_EQ(jobs[0].title, "REPORT.PDF");
  EXPECT_EQ(jobs[1].title, "-p.pdf");
  EXPECT_EQ(PdfPageCount(jobs[0].dataPath), 1);
}

TEST_F(PrintEngineTest, ThreeCopiesMakeThreeJobs) {
  const std::string pdf = MakePdf("copies.pdf");
  const QueueCapture capture(kQueueA);
  for (int copy = 0; copy < 3; ++copy) EXPECT_TRUE(PrintFile(pdf));
  EXPECT_EQ(capture.WaitForJobs(3, kJobTimeout).size(), 3u);
  EXPECT_EQ(capture.JobsWhenIdle().size(), 3u);
}

TEST_F(PrintEngineTest, ChosenPrinterReceivesTheJobs) {
  SetDefaultPrinterName(kQueueB);
  const QueueCapture onA(kQueueA);
  const QueueCapture onB(kQueueB);
  EXPECT_TRUE(PrintFile(MakePdf("chosen.pdf")));
  const auto jobs = onB.WaitForJobs(1, kJobTimeout);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].title, "chosen.pdf");
  EXPECT_TRUE(onA.JobsWhenIdle().empty());
}

TEST_F(PrintEngineTest, EmptyPdfFailsAndPrintsNothing) {
  const QueueCapture capture(kQueueA);
  EXPECT_FALSE(PrintFile(WriteFileInRoot("empty.pdf", "")));
  EXPECT_TRUE(capture.JobsWhenIdle().empty());
}

TEST_F(PrintEngineTest, TextFilesPrintAsTextWithOrWithoutExtension) {
  const QueueCapture capture(kQueueA);
  EXPECT_TRUE(PrintFile(WriteFileInRoot("notes.txt", "Shopping list: paper, toner\n")));
  // Named README, it is a text subtype that the spooler does not list by name.
  EXPECT_TRUE(PrintFile(WriteFileInRoot("README", "Plain words without an extension\n")));

  // The text filter's fonts carry no text layer, so the ink shows the words arrived.
  const auto jobs = capture.WaitForJobs(2, kJobTimeout);
  ASSERT_EQ(jobs.size(), 2u);
  for (const CapturedJob& job : jobs) {
    EXPECT_EQ(job.type, "text/plain") << job.title;
    EXPECT_EQ(PdfPageCount(job.dataPath), 1) << job.title;
    EXPECT_TRUE(FindInkBox(job.dataPath).has_value()) << job.title;
  }
}

TEST_F(PrintEngineTest, UnknownBinaryFailsAndPrintsNothing) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) % 256);
  const std::string path = WriteFileInRoot("firmware.bin", binary);
  const QueueCapture capture(kQueueA);
  EXPECT_NE(PrintWithShellVerb(path), 0);
  const PrintOutcome outcome = PrintDocument(path);
  EXPECT_FALSE(outcome.printed);
  EXPECT_EQ(outcome.printer, kQueueA);
  EXPECT_EQ(outcome.reason, "no program here can print this kind of file");
  EXPECT_TRUE(capture.JobsWhenIdle().empty());
}

TEST_F(PrintEngineTest, StoppedPrinterIsReportedThoughItTakesTheJob) {
  const QueueCapture capture(kQueueA);
  ASSERT_EQ(RunTestProgram({"cupsdisable", kQueueA}), 0);
  const PrintOutcome outcome = PrintDocument(MakePdf("held.pdf"));
  RunTestProgram({"cupsenable", kQueueA});
  EXPECT_FALSE(outcome.printed);
  EXPECT_EQ(outcome.reason, "the printer " + kQueueA + " is stopped; the document waits in its queue");
  // Started again, the queue prints what it held, before the next case begins.
  const auto jobs = capture.WaitForJobs(1, kJobTimeout);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].title, "held.pdf");
}

TEST_F(PrintEngineTest, WordDocumentGoesThroughLibreOffice) {
  const QueueCapture capture(kQueueA);
  EXPECT_TRUE(PrintFile(WriteFileInRoot("Letter Home.rtf", "{\\rtf1\\ansi Greetings from the print engine\\par}")));
  EXPECT_TRUE(capture.WaitForJobWithText("Greetings from the print engine", kRendererTimeout))
      << "LibreOffice (libreoffice-writer) printed nothing";
}

// A loopback port that only counts: a connection the page makes waits in its backlog.
class LoopbackTrap {
 public:
  LoopbackTrap() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(fd_, 64) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
  }
  ~LoopbackTrap() { close(fd_); }
  LoopbackTrap(const LoopbackTrap&) = delete;
  LoopbackTrap& operator=(const LoopbackTrap&) = delete;

  const std::string& Url() const { return url_; }
  int Connections() const {
    int count = 0;
    for (int client; (client = accept(fd_, nullptr, nullptr)) >= 0; ++count) close(client);
    return count;
  }

 private:
  int fd_ = -1;
  std::string url_;
};

// A page that tries what a hostile phone would: a script, a beacon, pictures, frames and
// styles from loopback, and a frame of a local file.
std::string HostilePage(const std::string& visible, const LoopbackTrap& trap, const std::string& localFile) {
  return "<html><head><title>TitleThatMustNotPrint</title>"
         "<link rel=stylesheet href=\"" + trap.Url() + "/style.css\"></head><body><p>" + visible + "</p>"
         "<script>document.write('ScriptRanHere'); fetch('" + trap.Url() + "/beacon');</script>"
         "<img src=\"" + trap.Url() + "/picture.png\"><iframe src=\"" + trap.Url() + "/frame\"></iframe>"
         "<iframe src=\"file://" + localFile + "\" width=600 height=200></iframe></body></html>";
}

void ExpectNothingLeaked(const std::string& text, const LoopbackTrap& trap) {
  EXPECT_EQ(text.find("ScriptRanHere"), std::string::npos);
  EXPECT_EQ(text.find("LocalSecretText"), std::string::npos);
  EXPECT_EQ(trap.Connections(), 0);
}

TEST_F(PrintEngineTest, HtmlPageComesOutAsPdfShutInAndWithoutHeaderOrFooter) {
  const LoopbackTrap trap;
  ASSERT_FALSE(trap.Url().empty());
  const std::string secret = WriteFileInRoot("secret.txt", "LocalSecretText");
  const std::string page = WriteFileInRoot("Web Page.SHTML", HostilePage("Rendered body text", trap, secret));
  const QueueCapture capture(kQueueA);
  EXPECT_TRUE(PrintFile(page));

  const auto jobs = capture.WaitForJobs(1, kRendererTimeout);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].type, "application/pdf");
  EXPECT_EQ(jobs[0].title, "Web Page.SHTML");
  const std::string text = PdfText(jobs[0].dataPath);
  EXPECT_NE(text.find("Rendered body text"), std::string::npos);
  EXPECT_EQ(text.find("TitleThatMustNotPrint"), std::string::npos);
  EXPECT_EQ(text.find("file:"), std::string::npos);
  ExpectNothingLeaked(text, trap);
}

// A PATH whose "chromium" notes each start and end in `log` around the real one.
std::string PathWithLoggingChromium(const std::string& log) {
  const std::string bin = PrintTestRoot() + "bin-logging-chromium/";
  const std::string chromium = RunAndRead({"sh", "-c", "command -v chromium"}).value_or("");
  EXPECT_FALSE(chromium.empty());
  EXPECT_TRUE(WriteTestFile(bin + "chromium",
                  "#!/bin/sh\necho start >> '" + log + "'\n'" + chromium.substr(0, chromium.size() - 1) +
                      "' \"$@\"\necho end >> '" + log + "'\n"));
  std::filesystem::permissions(bin + "chromium", std::filesystem::perms::owner_all);
  return bin + ":" + (getenv("PATH") != nullptr ? getenv("PATH") : "");
}

TEST_F(PrintEngineTest, HtmlCopiesComeFromOneRenderAndPagesRenderOneAtATime) {
  const std::string log = PrintTestRoot() + "chromium-runs.log";
  const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
  setenv("PATH", PathWithLoggingChromium(log).c_str(), 1);
  const std::string first = WriteFileInRoot("copies.html", "<html><body><p>Three copies</p></body></html>");
  const std::string second = WriteFileInRoot("single.html", "<html><body><p>One copy</p></body></html>");
  const QueueCapture capture(kQueueA);
  for (int copy = 0; copy < 3; ++copy) EXPECT_TRUE(PrintFile(first));
  EXPECT_TRUE(PrintFile(second));
  setenv("PATH", path.c_str(), 1);

  const auto jobs = capture.WaitForJobs(4, kRendererTimeout);
  ASSERT_EQ(jobs.size(), 4u);
  EXPECT_EQ(std::count_if(jobs.begin(), jobs.end(), [](const CapturedJob& job) { return job.title == "copies.html"; }),
            3);
  EXPECT_EQ(ReadTestFile(log), "start\nend\nstart\nend\n");
}

TEST_F(PrintEngineTest, HtmlPageGoesThroughLibreOfficeShutInWithoutChromium) {
  // A PATH with every program of /usr/bin but Chromium.
  const std::string bin = PrintTestRoot() + "bin-without-chromium/";
  std::filesystem::create_directories(bin);
  for (const auto& entry : std::filesystem::directory_iterator("/usr/bin")) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("chromium")) std::filesystem::create_symlink(entry.path(), bin + name);
  }
  const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
  setenv("PATH", bin.c_str(), 1);
  const LoopbackTrap trap;
  ASSERT_FALSE(trap.Url().empty());
  const std::string secret = WriteFileInRoot("office-secret.txt", "LocalSecretText");
  const std::string page = WriteFileInRoot("fallback.htm", HostilePage("Written by the office suite", trap, secret));
  const QueueCapture capture(kQueueA);
  EXPECT_EQ(PrintHtmlFile(page), 0);
  setenv("PATH", path.c_str(), 1);

  const auto job = capture.WaitForJobWithText("Written by the office suite", kRendererTimeout);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->type, "application/pdf");
  ExpectNothingLeaked(PdfText(job->dataPath), trap);
}

}  // namespace
