// Time from PrintFile to the job being in the spooler's queue, for a PDF and a phone
// photo, beside `lp` queueing the same files in the same run. Needs cupsd and the test
// queues (scripts/start-services.sh --test-queues); jobs go to OlvaroTestA.
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "print/printer.h"
#include "print/printers.h"

extern char** environ;

namespace {

constexpr int kRounds = 7;
const char kQueue[] = "OlvaroTestA";

bool RunLp(const std::string& file) {
  std::vector<std::string> arguments = {"lp", "-d", kQueue, "-t", "bench", file};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, "lp", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return error == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Median milliseconds of `rounds` runs; negative when a run failed.
double MedianMs(const std::function<bool()>& run) {
  std::vector<double> times;
  for (int i = 0; i < kRounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!run()) return -1;
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Report(const char* what, const std::string& file) {
  const double engine = MedianMs([&] { return PrintFile(file); });
  const double lp = MedianMs([&] { return RunLp(file); });
  std::printf("%-28s PrintFile %8.1f ms   lp %8.1f ms   (median of %d)\n", what, engine, lp, kRounds);
}

}  // namespace

int main() {
  // A private per-user default, so the bench never changes the user's own.
  char folder[] = "/tmp/olvaro-print-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string root = folder;
  setenv("HOME", root.c_str(), 1);
  setenv("TMPDIR", root.c_str(), 1);
  unsetenv("LPDEST");
  unsetenv("PRINTER");
  SetDefaultPrinterName(kQueue);
  if (GetDefaultPrinterName() != kQueue) {
    std::fprintf(stderr, "print_bench: queue %s missing (scripts/start-services.sh --test-queues)\n", kQueue);
    return 1;
  }

  const std::string pdf = root + "/document.pdf";
  {
    QPdfWriter writer(QString::fromStdString(pdf));
    QPainter painter(&writer);
    for (int i = 0; i < 40; ++i) painter.fillRect(QRect(i * 200, i * 300, 1500, 150), Qt::black);
  }
  const std::string photo = root + "/photo.jpg";
  QImage image(4032, 3024, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, (x ^ y) % 256));
  }
  image.setDotsPerMeterX(2835);
  image.setDotsPerMeterY(2835);
  if (!image.save(QString::fromStdString(photo), "JPG", 90)) return 1;

  Report("PDF (1 page)", pdf);
  Report("JPEG photo 4032x3024", photo);

  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return 0;
}
