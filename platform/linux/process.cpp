#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Waits for the child so it leaves no zombie, then reports how it ended.
void ReapChild(pid_t pid, const std::function<void(int)>& onExit) {
  int status = 0;
  pid_t result = 0;
  do {
    result = waitpid(pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  if (!onExit) return;
  onExit(result == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

// posix_spawn's attribute and file-action records, released on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

}  // namespace

std::string FindProgramOnPath(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const char* path = getenv("PATH");
  const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::string::size_type start = 0;
  while (start <= folders.size()) {
    const auto end = std::min(folders.find(':', start), folders.size());
    // An empty entry stands for the current folder.
    const std::string folder = end == start ? "." : folders.substr(start, end - start);
    const std::string candidate = folder + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

int StartDetachedProcess(const std::vector<std::string>& argv, std::function<void(int exitCode)> onExit) {
  if (argv.empty() || argv.front().empty()) return EINVAL;
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  // The child gets its own session, default signal handling, and none of our sockets or
  // files: a long-lived office suite must not keep the service's listening port open.
  SpawnSetup setup;
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&setup.attributes_, &signals);
  sigaddset(&signals, SIGPIPE);
  sigaddset(&signals, SIGCHLD);
  posix_spawnattr_setsigdefault(&setup.attributes_, &signals);
  posix_spawnattr_setflags(&setup.attributes_,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_addopen(&setup.actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions_, STDOUT_FILENO, STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions_, STDERR_FILENO + 1);

  pid_t pid = 0;
  const int error = posix_spawnp(&pid, arguments.front(), &setup.actions_, &setup.attributes_,
                                 arguments.data(), environ);
  if (error != 0) return error;
  try {
    std::thread(ReapChild, pid, onExit).detach();
  } catch (const std::system_error&) {
    // No thread to spare: reap here rather than leave a zombie behind.
    ReapChild(pid, onExit);
  }
  return 0;
}
