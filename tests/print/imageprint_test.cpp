// Images through PrintFile: one page titled "Image", laid out on the queue's Letter sheet.
#include <gtest/gtest.h>

#include <QImage>

#include <atomic>
#include <thread>
#include <vector>

#include "print/printer.h"
#include "print/printers.h"
#include "tests/print/printtestsupport.h"

namespace {

constexpr std::chrono::seconds kJobTimeout(60);
// Rendered at 200 dpi; each edge may add a partly covered pixel.
constexpr double kInkTolerance = 0.011;

// A solid image with the given resolution, saved in the format its name says.
std::string MakeImage(const std::string& name, int width, int height, int dotsPerInch, const char* format) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(40, 40, 160));
  const int dotsPerMeter = static_cast<int>(dotsPerInch / 0.0254 + 0.5);
  image.setDotsPerMeterX(dotsPerMeter);
  image.setDotsPerMeterY(dotsPerMeter);
  const std::string path = WriteFileInRoot(name, "");
  EXPECT_TRUE(image.save(QString::fromStdString(path), format)) << name;
  return path;
}

void ExpectInk(const CapturedJob& job, double x, double y, double width, double height) {
  const auto ink = FindInkBox(job.dataPath);
  ASSERT_TRUE(ink.has_value());
  EXPECT_NEAR(ink->pageWidth, 8.5, 0.01);
  EXPECT_NEAR(ink->pageHeight, 11.0, 0.01);
  EXPECT_NEAR(ink->x, x, kInkTolerance);
  EXPECT_NEAR(ink->y, y, kInkTolerance);
  EXPECT_NEAR(ink->width, width, kInkTolerance);
  EXPECT_NEAR(ink->height, height, kInkTolerance);
}

class ImagePrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SERVICE(TestQueuesReady(), "needs cupsd and scripts/start-services.sh --test-queues");
    SetDefaultPrinterName(kQueueA);
  }

  // Prints and returns the one job the queue received.
  CapturedJob PrintOne(const std::string& path) {
    const QueueCapture capture(kQueueA);
    EXPECT_TRUE(PrintFile(path)) << path;
    const auto jobs = capture.WaitForJobs(1, kJobTimeout);
    if (jobs.size() != 1) {
      ADD_FAILURE() << "expected one job, got " << jobs.size();
      return {};
    }
    EXPECT_EQ(jobs[0].title, "Image");
    EXPECT_EQ(PdfPageCount(jobs[0].dataPath), 1);
    return jobs[0];
  }
};

TEST_F(ImagePrintTest, LargePhotoShrinksToTheSheetWidthAndIsCentred) {
  const CapturedJob job = PrintOne(MakeImage("Photo.JPEG", 4032, 3024, 72, "JPG"));
  if (HasFailure()) return;
  ExpectInk(job, 0.5906, 2.7554, 7.3189, 5.4892);
}

TEST_F(ImagePrintTest, SmallImagePrintsAtItsOwnSize) {
  const CapturedJob job = PrintOne(MakeImage("small.png", 300, 200, 96, "PNG"));
  if (HasFailure()) return;
  ExpectInk(job, 2.6875, 4.4583, 3.125, 2.0833);
}

TEST_F(ImagePrintTest, MultiPageTiffPrintsItsFirstPageOnly) {
  // The pages differ in shape, so the ink shows which one was printed.
  const std::string first = MakeImage("first.tif", 300, 200, 96, "TIFF");
  const std::string second = MakeImage("second.tif", 200, 300, 96, "TIFF");
  const std::string both = PrintTestRoot() + "files/scan.TIFF";
  ASSERT_TRUE(RunAndRead({"tiffcp", first, second, both}).has_value());
  ASSERT_NE(RunAndRead({"tiffinfo", both}).value_or("").find("Image Width: 200"), std::string::npos)
      << "the TIFF lacks its second page";

  const CapturedJob job = PrintOne(both);
  if (HasFailure()) return;
  ExpectInk(job, 2.6875, 4.4583, 3.125, 2.0833);
}

TEST_F(ImagePrintTest, SeveralThreadsPrintImagesAtOnce) {
  std::vector<std::string> images;
  for (int i = 0; i < 4; ++i) images.push_back(MakeImage("parallel" + std::to_string(i) + ".png", 300, 200, 96, "PNG"));
  const QueueCapture capture(kQueueA);
  std::atomic<int> accepted = 0;
  std::vector<std::thread> threads;
  for (const std::string& image : images) {
    threads.emplace_back([&accepted, image] { accepted += PrintFile(image) ? 1 : 0; });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(accepted, 4);
  const auto jobs = capture.WaitForJobs(4, kJobTimeout);
  ASSERT_EQ(jobs.size(), 4u);
  for (const CapturedJob& job : jobs) ExpectInk(job, 2.6875, 4.4583, 3.125, 2.0833);
}

TEST_F(ImagePrintTest, UndecodableImageFailsAndPrintsNothing) {
  const std::string path = WriteFileInRoot("broken.jpg", "this is not a picture at all");
  const QueueCapture capture(kQueueA);
  EXPECT_NE(PrintImageFile(path), 0);
  EXPECT_FALSE(PrintFile(path));
  EXPECT_TRUE(capture.JobsWhenIdle().empty());
}

}  // namespace
