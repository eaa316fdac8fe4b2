// olvaro-desktop as a whole: how long a phone's PDF takes from its last byte to a job in
// the CUPS queue, next to `lp` handing the same file to the same queue; and what the
// program holds while it waits for phones, next to cupsd and avahi-daemon.
#include "tests/support/servicetest.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cups/cups.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 7;

// Whether `queue` holds a job titled `title`, in any state.
bool QueueHasJob(const std::string& queue, const std::string& title) {
  cups_job_t* jobs = nullptr;
  const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
  bool found = false;
  for (int i = 0; i < count && !found; ++i) found = title == jobs[i].title;
  cupsFreeJobs(count, jobs);
  return found;
}

// Milliseconds from `start` until the job shows in the queue; -1 after 30 s.
double WaitForJob(const std::string& title, Clock::time_point start) {
  while (Clock::now() - start < std::chrono::seconds(30)) {
    if (QueueHasJob(kServiceTestQueue, title)) {
      return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
  }
  return -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// "Threads" and "VmRSS" of a process, from /proc.
std::pair<int, long> ThreadsAndRssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  int threads = 0;
  long rss = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Threads:")) threads = std::atoi(line.c_str() + 8);
    if (line.starts_with("VmRSS:")) rss = std::atol(line.c_str() + 6);
  }
  return {threads, rss};
}

pid_t PidOf(const std::string& name) {
  const auto output = ReadProgramOutput({"pidof", "-s", name});
  return output ? static_cast<pid_t>(std::atoi(output->c_str())) : 0;
}

void PrintProcess(const char* label, pid_t pid) {
  const auto [threads, rss] = ThreadsAndRssKiB(pid);
  std::printf("  %-22s threads %3d   RSS %7.1f MiB\n", label, threads, rss / 1024.0);
}

}  // namespace

int main() {
  if (!CaptureQueueReady()) {
    std::fprintf(stderr, "needs cupsd and the test queues: scripts/start-services.sh --test-queues\n");
    return 1;
  }
  ServiceTestEnvironment environment(kServiceTestQueue);
  const uint16_t port = FindFreePort();
  ServiceTestEnvironment::StorePort(port);

  char program[] = OLVARO_DESKTOP;
  char* argv[] = {program, nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0 ||
      !WaitForService(port, std::chrono::seconds(20))) {
    std::fprintf(stderr, "olvaro-desktop did not start\n");
    return 1;
  }

  const std::string pdf = MakeTestPdf("Benchmark page");
  const std::string source = environment.Root() + "bench.pdf";
  WriteTestFile(source, pdf);
  std::vector<double> programMs;
  std::vector<double> lpMs;
  for (int round = 0; round < kRounds; ++round) {
    const std::string tag = std::to_string(getpid()) + "-" + std::to_string(round);

    const std::string name = "bench-upload-" + tag + ".pdf";
    PhoneConnection phone(port);
    phone.Send(PrintRequestHead(pdf.size(), {"X-FileName: " + name}) + pdf.substr(0, pdf.size() - 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto lastByte = Clock::now();
    phone.Send(pdf.substr(pdf.size() - 1));
    programMs.push_back(WaitForJob(name, lastByte));
    phone.ReadToEnd();

    const std::string title = "bench-lp-" + tag + ".pdf";
    const auto lpStart = Clock::now();
    ReadProgramOutput({"lp", "-d", kServiceTestQueue, "-t", title, source});
    lpMs.push_back(WaitForJob(title, lpStart));
  }
  std::printf("PDF of %zu bytes to a job in %s, median of %d:\n", pdf.size(), kServiceTestQueue.c_str(), kRounds);
  std::printf("  olvaro-desktop (last body byte -> job)  %8.1f ms\n", Median(programMs));
  std::printf("  lp (start -> job)                       %8.1f ms\n", Median(lpMs));

  // Idle: the engine's workers end 11 s after the last request.
  std::this_thread::sleep_for(std::chrono::seconds(13));
  std::printf("Idle, waiting for phones:\n");
  PrintProcess("olvaro-desktop", pid);
  if (const pid_t cupsd = PidOf("cupsd")) PrintProcess("cupsd", cupsd);
  if (const pid_t avahi = PidOf("avahi-daemon")) PrintProcess("avahi-daemon", avahi);

  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return 0;
}
