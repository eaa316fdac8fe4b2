#include "tests/support/xsession.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool OnPath(const std::string& program) {
  for (const char* folder : {"/usr/local/bin/", "/usr/bin/", "/bin/"}) {
    if (access((folder + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// A display number no X server uses yet.
int FreeDisplayNumber() {
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

std::string ReadCommandOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
    pclose(pipe);
  }
  return output;
}

size_t Indentation(const std::string& line) { return line.find_first_not_of(' '); }

}  // namespace

pid_t SpawnWithEnvironment(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) == 0 ? pid : -1;
}

void EndProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

bool XSessionWithTray::Available() { return OnPath("Xvfb") && OnPath("trayer") && OnPath("xwininfo"); }

XSessionWithTray::XSessionWithTray() {
  const int number = FreeDisplayNumber();
  if (!Available() || number < 0) return;
  display_ = ":" + std::to_string(number);
  server_ = SpawnWithEnvironment({"Xvfb", display_, "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, Environment());
  if (server_ < 0 || !WaitFor([&] { return Exists("/tmp/.X11-unix/X" + std::to_string(number)); })) return;
  tray_ = SpawnWithEnvironment({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width",
                                "96", "--height", "24", "--SetDockType", "true", "--SetPartialStrut", "true"},
                               Environment());
  started_ = tray_ > 0 && WaitFor([&] {
    return ReadCommandOutput("DISPLAY=" + display_ + " xwininfo -root -tree 2>/dev/null").find("\"trayer\")") !=
           std::string::npos;
  });
}

XSessionWithTray::~XSessionWithTray() {
  EndProcess(tray_);
  EndProcess(server_);
}

std::vector<std::string> XSessionWithTray::Environment(const std::vector<std::string>& changes) const {
  std::vector<std::string> all = changes;
  all.push_back("DISPLAY=" + display_);
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string line = *entry;
    bool replaced = false;
    for (const std::string& change : all) {
      replaced |= line.compare(0, change.find('=') + 1, change, 0, change.find('=') + 1) == 0;
    }
    if (!replaced) result.push_back(line);
  }
  result.insert(result.end(), all.begin(), all.end());
  return result;
}

bool XSessionWithTray::IsEmbeddedInTray(const std::string& windowClass) const {
  // xwininfo indents each window below its parent: look below trayer's panel window.
  const std::string tree = ReadCommandOutput("DISPLAY=" + display_ + " xwininfo -root -tree 2>/dev/null");
  size_t panelIndent = std::string::npos;
  size_t start = 0;
  while (start < tree.size()) {
    const size_t end = tree.find('\n', start);
    const std::string line = tree.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? tree.size() : end + 1;
    if (panelIndent == std::string::npos) {
      if (line.find("(\"panel\" \"trayer\")") != std::string::npos) panelIndent = Indentation(line);
      continue;
    }
    if (Indentation(line) <= panelIndent) return false;
    if (line.find("(\"" + windowClass + "\"") != std::string::npos) return true;
  }
  return false;
}
