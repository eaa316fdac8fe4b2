// What the print tests share: a private per-user environment for the whole test process,
// the capturing test queues, and reading back what a queue received.
#pragma once

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/testenv.h"

// The two capturing queues made by scripts/start-services.sh --test-queues, and its
// stopped queue with a monochrome, one-sided driver (A4, A5 the default, Letter).
inline const std::string kQueueA = "OlvaroTestA";
inline const std::string kQueueB = "OlvaroTestB";
inline const std::string kQueueStopped = "OlvaroTestStopped";

// HOME (CUPS keeps the per-user default there), XDG_CONFIG_HOME, TMPDIR and
// XDG_RUNTIME_DIR in a fresh tree for this process, and no LPDEST/PRINTER. Made once
// per process because libcups reads HOME only once per thread.
const std::string& PrintTestRoot();

// True when cupsd runs and the three test queues exist.
bool TestQueuesReady();

// Cases that print: skipped without the test queues, and queue A is the default.
class QueueATest : public ::testing::Test {
 protected:
  void SetUp() override;
};

// One job as the capturing backend stored it.
struct CapturedJob {
  std::string id;
  std::string dataPath;
  std::string type;
  std::string title;
};

// The jobs a queue receives from the moment this object is made.
class QueueCapture {
 public:
  explicit QueueCapture(const std::string& queue);
  // Waits until at least `count` new jobs are complete or the time is up; returns the new jobs.
  std::vector<CapturedJob> WaitForJobs(size_t count, std::chrono::seconds timeout) const;
  // Waits for a new job whose text holds `text`: renderers that run on after their test
  // ended may still hand a foreign job to the queue meanwhile.
  std::optional<CapturedJob> WaitForJobWithText(const std::string& text, std::chrono::seconds timeout) const;
  // Waits until the queue has nothing pending, then returns the new jobs.
  std::vector<CapturedJob> JobsWhenIdle() const;

 private:
  std::vector<CapturedJob> NewJobs() const;
  std::string queue_;
  std::string folder_;
  std::vector<std::string> before_;
};

// A file under the test root, written with `content`; returns its path.
std::string WriteFileInRoot(const std::string& name, const std::string& content);

// Runs a program (found on PATH) and waits; its standard output, or nothing on failure.
std::optional<std::string> RunAndRead(const std::vector<std::string>& arguments);

// Page count and text of a PDF as poppler reads them (the printer's PJL wrapper is fine).
int PdfPageCount(const std::string& pdf);
std::string PdfText(const std::string& pdf);

// The rectangle the ink covers on the first page, in inches from the top left corner.
struct InkBox {
  double x = 0, y = 0, width = 0, height = 0;
  double pageWidth = 0, pageHeight = 0;
};
std::optional<InkBox> FindInkBox(const std::string& pdf);
