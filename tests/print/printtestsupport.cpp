#include "tests/print/printtestsupport.h"

#include "print/printers.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/testenv.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char kCaptureRoot[] = "/var/spool/olvaro-capture/";
constexpr int kRenderDotsPerInch = 200;

std::string ReadTrimmed(const std::string& path) {
  std::string text = ReadTestFile(path).value_or("");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Job ids of the completed captures in a folder (".data" appears last, by rename).
std::vector<std::string> CompletedJobIds(const std::string& folder) {
  std::vector<std::string> ids;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".data") ids.push_back(entry.path().stem().string());
  }
  // In the order the spooler numbered them.
  std::sort(ids.begin(), ids.end(),
            [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); });
  return ids;
}

int ActiveJobCount(const std::string& queue) {
  cups_job_t* jobs = nullptr;
  const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
  cupsFreeJobs(count, jobs);
  return count;
}

void WaitUntilIdle(const std::string& queue) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ActiveJobCount(queue) > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

const std::string& PrintTestRoot() {
  static const TestEnvironment environment = [] {
    unsetenv("LPDEST");
    unsetenv("PRINTER");
    return TestEnvironment();
  }();
  return environment.Root();
}

bool TestQueuesReady() {
  PrintTestRoot();
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  const bool ready = cupsGetDest(kQueueA.c_str(), nullptr, count, dests) != nullptr &&
                     cupsGetDest(kQueueB.c_str(), nullptr, count, dests) != nullptr &&
                     cupsGetDest(kQueueStopped.c_str(), nullptr, count, dests) != nullptr;
  cupsFreeDests(count, dests);
  return ready;
}

QueueCapture::QueueCapture(const std::string& queue) : queue_(queue), folder_(kCaptureRoot + queue + "/") {
  // Jobs still on their way from an earlier test must not count as this test's.
  WaitUntilIdle(queue_);
  before_ = CompletedJobIds(folder_);
}

std::vector<CapturedJob> QueueCapture::NewJobs() const {
  std::vector<CapturedJob> jobs;
  for (const std::string& id : CompletedJobIds(folder_)) {
    if (std::find(before_.begin(), before_.end(), id) != before_.end()) continue;
    const std::string base = folder_ + id;
    jobs.push_back({id, base + ".data", ReadTrimmed(base + ".type"), ReadTrimmed(base + ".title")});
  }
  return jobs;
}

std::vector<CapturedJob> QueueCapture::WaitForJobs(size_t count, std::chrono::seconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<CapturedJob> jobs = NewJobs();
  while (jobs.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    jobs = NewJobs();
  }
  return jobs;
}

std::optional<CapturedJob> QueueCapture::WaitForJobWithText(const std::string& text,
                                                             std::chrono::seconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    for (const CapturedJob& job : NewJobs()) {
      if (PdfText(job.dataPath).find(text) != std::string::npos) return job;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

std::vector<CapturedJob> QueueCapture::JobsWhenIdle() const {
  WaitUntilIdle(queue_);
  return NewJobs();
}

std::string WriteFileInRoot(const std::string& name, const std::string& content) {
  const std::string path = PrintTestRoot() + "files/" + name;
  EXPECT_TRUE(WriteTestFile(path, content)) << path;
  return path;
}

std::optional<std::string> RunAndRead(const std::vector<std::string>& arguments) {
  const std::string output = PrintTestRoot() + "program-output-" + std::to_string(getpid()) + "-" +
                             std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  const bool ok = error == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::optional<std::string> text = ok ? ReadTestFile(output) : std::nullopt;
  std::error_code ignored;
  fs::remove(output, ignored);
  return text;
}

int PdfPageCount(const std::string& pdf) {
  const std::string text = RunAndRead({"pdftotext", "-q", pdf, "-"}).value_or("");
  return static_cast<int>(std::count(text.begin(), text.end(), '\f'));
}

std::string PdfText(const std::string& pdf) { return RunAndRead({"pdftotext", "-q", pdf, "-"}).value_or(""); }

std::optional<InkBox> FindInkBox(const std::string& pdf) {
  const std::string base = PrintTestRoot() + "render-" + std::to_string(getpid());
  if (!RunAndRead({"pdftoppm", "-q", "-f", "1", "-l", "1", "-r", std::to_string(kRenderDotsPerInch), "-png",
                   "-singlefile", pdf, base})) {
    return std::nullopt;
  }
  const QImage page(QString::fromStdString(base + ".png"));
  std::error_code ignored;
  fs::remove(base + ".png", ignored);
  if (page.isNull()) return std::nullopt;

  int left = page.width(), top = page.height(), right = -1, bottom = -1;
  for (int y = 0; y < page.height(); ++y) {
    for (int x = 0; x < page.width(); ++x) {
      const QRgb pixel = page.pixel(x, y);
      if (qRed(pixel) > 200 && qGreen(pixel) > 200 && qBlue(pixel) > 200) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < 0) return std::nullopt;
  const double dpi = kRenderDotsPerInch;
  return InkBox{left / dpi, top / dpi, (right - left + 1) / dpi, (bottom - top + 1) / dpi,
                page.width() / dpi, page.height() / dpi};
}

void QueueATest::SetUp() {
  SKIP_WITHOUT_SERVICE(TestQueuesReady(), "needs cupsd and scripts/start-services.sh --test-queues");
  SetDefaultPrinterName(kQueueA);
  ASSERT_EQ(GetDefaultPrinterName(), kQueueA);
}
