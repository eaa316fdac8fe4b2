// Documents through PrintFile into the real spooler's capturing queues.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <QPainter>
#include <QPdfWriter>

#include "print/printer.h"
#include "print/printers.h"
#include "tests/print/printtestsupport.h"

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
  ASSERT_EQ(RunTestProgram({"cupsdisable", kQueueA}), 0);
  const PrintOutcome outcome = PrintDocument(MakePdf("held.pdf"));
  RunTestProgram({"cupsenable", kQueueA});
  EXPECT_FALSE(outcome.printed);
  EXPECT_EQ(outcome.reason, "the printer " + kQueueA + " is stopped; the document waits in its queue");
  // Started again, the queue prints what it held.
  const QueueCapture capture(kQueueA);
  EXPECT_TRUE(PrintFile(MakePdf("after.pdf")));
  EXPECT_GE(capture.WaitForJobs(1, kJobTimeout).size(), 1u);
}

TEST_F(PrintEngineTest, WordDocumentGoesThroughLibreOffice) {
  const QueueCapture capture(kQueueA);
  EXPECT_TRUE(PrintFile(WriteFileInRoot("Letter Home.rtf", "{\\rtf1\\ansi Greetings from the print engine\\par}")));
  const auto jobs = capture.WaitForJobs(1, kRendererTimeout);
  ASSERT_EQ(jobs.size(), 1u) << "LibreOffice (libreoffice-writer) printed nothing";
  EXPECT_NE(PdfText(jobs[0].dataPath).find("Greetings from the print engine"), std::string::npos);
}

TEST_F(PrintEngineTest, HtmlPageComesOutAsPdfWithoutHeaderOrFooter) {
  const std::string page = WriteFileInRoot(
      "Web Page.SHTML",
      "<html><head><title>TitleThatMustNotPrint</title></head><body><p>Rendered body text</p></body></html>");
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
}

TEST_F(PrintEngineTest, HtmlPageGoesThroughLibreOfficeWithoutChromium) {
  // A PATH with every program of /usr/bin but Chromium.
  const std::string bin = PrintTestRoot() + "bin-without-chromium/";
  std::filesystem::create_directories(bin);
  for (const auto& entry : std::filesystem::directory_iterator("/usr/bin")) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("chromium")) std::filesystem::create_symlink(entry.path(), bin + name);
  }
  const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
  setenv("PATH", bin.c_str(), 1);
  const std::string page =
      WriteFileInRoot("fallback.htm", "<html><body><p>Written by the office suite</p></body></html>");
  const QueueCapture capture(kQueueA);
  EXPECT_EQ(PrintHtmlFile(page), 0);
  setenv("PATH", path.c_str(), 1);

  const auto jobs = capture.WaitForJobs(1, kRendererTimeout);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].type, "application/pdf");
  EXPECT_NE(PdfText(jobs[0].dataPath).find("Written by the office suite"), std::string::npos);
}

}  // namespace
