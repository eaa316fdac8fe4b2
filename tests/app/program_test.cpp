// olvaro-desktop as a process: one instance per user, a clean end on SIGTERM, and a
// document from a "phone" coming out of a real CUPS queue.
#include "base/settings.h"
#include "tests/support/servicetest.h"
#include "tests/support/xsession.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// A started olvaro-desktop, ended with SIGKILL if a test leaves it running.
class ProgramProcess {
public:
  ProgramProcess(const std::string& stderrFile, const std::vector<std::string>& arguments = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<std::string> all = {OLVARO_DESKTOP};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, OLVARO_DESKTOP, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ProgramProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // The exit status once the process has ended within `timeout`; nullopt while it runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
  }

private:
  pid_t pid_ = -1;
};

class ProgramTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(ServiceTestEnvironment::StorePort(port));
    // The program shows a window only where a desktop session is; these tests have none.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  std::string StderrFile(const std::string& name) const { return environment.Root() + name; }

  ServiceTestEnvironment environment{kServiceTestQueue};
  uint16_t port = FindFreePort();
};

TEST_F(ProgramTest, SecondStartAsksTheFirstToShowItselfAndEnds) {
  ProgramProcess first(StderrFile("first.log"));
  ASSERT_TRUE(WaitForService(port, std::chrono::seconds(20)));

  // Another session's runtime folder (a login over ssh, a service) is the same user and
  // settings folder: still the second copy.
  const std::string otherRuntime = environment.Root() + "other-runtime";
  ASSERT_TRUE(std::filesystem::create_directory(otherRuntime));
  setenv("XDG_RUNTIME_DIR", otherRuntime.c_str(), 1);
  ProgramProcess second(StderrFile("second.log"));
  EXPECT_EQ(second.WaitForExit(std::chrono::seconds(10)), 0);
  EXPECT_FALSE(first.WaitForExit(std::chrono::milliseconds(0)).has_value());
  EXPECT_TRUE(WaitForService(port, std::chrono::seconds(2)));
  // The first one heard the request; without a window it only notes it.
  const auto heard = [this] {
    return ReadTestFile(StderrFile("first.log")).value_or("").find("already running") != std::string::npos;
  };
  for (int i = 0; i < 100 && !heard(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(heard());
}

TEST_F(ProgramTest, TerminationEndsTheProgramPromptlyAndFreesItsPlace) {
  {
    // " /autorun" on the command line changes nothing.
    ProgramProcess program(StderrFile("program.log"), {"/autorun"});
    ASSERT_TRUE(WaitForService(port, std::chrono::seconds(20)));
    // Right after that request: its idle worker does not hold up the end.
    ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
    EXPECT_EQ(program.WaitForExit(std::chrono::seconds(2)), 0);
    EXPECT_FALSE(PhoneConnection(port).IsConnected());
  }
  // The lock went with the process: the next start serves again.
  ProgramProcess next(StderrFile("next.log"));
  EXPECT_TRUE(WaitForService(port, std::chrono::seconds(20)));
  ASSERT_EQ(kill(next.Pid(), SIGINT), 0);
  EXPECT_EQ(next.WaitForExit(std::chrono::seconds(20)), 0);
}

TEST_F(ProgramTest, UploadedPdfIsPrintedOncePerCopy) {
  SKIP_WITHOUT_SERVICE(CaptureQueueReady(), "cupsd or " << kServiceTestQueue << " missing");
  ProgramProcess program(StderrFile("program.log"));
  ASSERT_TRUE(WaitForService(port, std::chrono::seconds(20)));

  const std::string name = "phone-" + std::to_string(getpid()) + "-" + std::to_string(port) + ".pdf";
  const std::string pdf = MakeTestPdf("Printed from a phone");
  EXPECT_EQ(ExchangeWithService(port, PrintRequestHead(pdf.size(), {"X-FileName: " + name, "X-Copies: 2"}) + pdf),
            ExpectedPrintReply(0, 200));
  EXPECT_EQ(ReadTestFile(environment.Root() + "tmp/OlvaroDesktop/" + name), pdf);
  EXPECT_EQ(WaitForCapturedJobs(kServiceTestQueue, name, 2, std::chrono::seconds(60)).size(), 2u);

  ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
  EXPECT_EQ(program.WaitForExit(std::chrono::seconds(20)), 0);
}

TEST_F(ProgramTest, ASilentRelayHoldsUpNeitherLocalRepliesNorTheEnd) {
  // No identity yet, and a relay that accepts its request and never answers.
  ASSERT_TRUE(WriteSettingString("Magic", ""));
  SilentRelay relay;
  ASSERT_TRUE(relay.Listening());

  ProgramProcess program(StderrFile("program.log"));
  ASSERT_TRUE(relay.AcceptOne());
  // The service is up before the identity is asked for, so it answers at once.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(WaitForService(port, std::chrono::seconds(3)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  ASSERT_EQ(kill(program.Pid(), SIGTERM), 0);
  EXPECT_EQ(program.WaitForExit(std::chrono::seconds(10)), 0);
}

TEST_F(ProgramTest, OnADesktopTheTrayIconIsShownBesideTheRunningService) {
  SKIP_WITHOUT_SERVICE(XSessionWithTray::Available(), "Xvfb or trayer is not installed (see scripts/packages.txt)");
  XSessionWithTray session;
  ASSERT_TRUE(session.Started());
  const std::string suppressions = "LSAN_OPTIONS=suppressions=" OLVARO_LSAN_SUPPRESSIONS;
  const pid_t program = SpawnWithEnvironment({OLVARO_DESKTOP}, session.Environment({suppressions}));
  ASSERT_GT(program, 0);

  EXPECT_TRUE(WaitForService(port, std::chrono::seconds(20)));
  bool embedded = false;
  for (int i = 0; i < 200 && !(embedded = session.IsEmbeddedInTray("olvaro-desktop")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(embedded);

  // SIGTERM ends the windowed program as "Exit" does.
  ASSERT_EQ(kill(program, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(program, &status, 0), program);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
