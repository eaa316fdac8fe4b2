// The tray icon on a real X server: a private Xvfb display with trayer as the tray host.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = folders.find(':', start);
    const std::string folder = folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// The environment of this process with `changes` ("NAME=value") put in.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string line = *entry;
    bool replaced = false;
    for (const std::string& change : changes) {
      replaced |= line.compare(0, change.find('=') + 1, change, 0, change.find('=') + 1) == 0;
    }
    if (!replaced) result.push_back(line);
  }
  result.insert(result.end(), changes.begin(), changes.end());
  return result;
}

// A child process, stopped and reaped when the object goes.
class Child {
 public:
  Child(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  }
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Started() const { return pid_ > 0; }
  // Waits for the child to end; its exit status, or -1.
  int Wait() {
    int status = 0;
    const pid_t ended = waitpid(pid_, &status, 0);
    pid_ = -1;
    return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

// A display number no X server uses yet.
int FreeDisplay() {
  for (int n = 90; n < 400; ++n) {
    const std::string number = std::to_string(n);
    if (!Exists("/tmp/.X11-unix/X" + number) && !Exists("/tmp/.X" + number + "-lock")) return n;
  }
  return -1;
}

// Waits until `ready` holds, for at most 20 seconds.
bool WaitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 200; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

TEST(TrayOnXvfb, IconIsEmbeddedAndClickShowsTheWindow) {
  for (const char* program : {"Xvfb", "trayer"}) {
    if (!OnPath(program)) GTEST_SKIP() << program << " is not installed (see scripts/packages.txt)";
  }
  const int number = FreeDisplay();
  ASSERT_GT(number, 0);
  const std::string display = ":" + std::to_string(number);
  const std::vector<std::string> environment = Environment({"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"});

  Child server({"Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, environment);
  ASSERT_TRUE(server.Started());
  ASSERT_TRUE(WaitFor([&] { return Exists("/tmp/.X11-unix/X" + std::to_string(number)); }));

  Child tray({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "96",
              "--height", "24", "--SetDockType", "true", "--SetPartialStrut", "true"},
             environment);
  ASSERT_TRUE(tray.Started());

  Child probe({OLVARO_TRAY_PROBE}, environment);
  ASSERT_TRUE(probe.Started());
  EXPECT_EQ(probe.Wait(), 0) << "see the probe's messages above";
}

}  // namespace
