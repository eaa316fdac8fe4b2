// Benchmark: the engine beside nginx, measured by wrk from outside the process: a 404 for
// a missing path at 10 and 50 connections, one request per connection and kept alive (on
// the engine a persistent entry that answers 404 with a length); the system calls each
// server makes for such a request, counted by strace; and a 256 MiB upload streamed into a
// file beside the raw loopback-to-file limit. Prints figures and their ratios; asserts
// nothing.
#include "httpengine/httpengine.h"
#include "platform/newfile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRunTime = std::chrono::seconds(3);
constexpr uint64_t kUploadSize = 256ull << 20;
const std::filesystem::path kFolder = std::filesystem::temp_directory_path() / ("olvaro-bench-" + std::to_string(getpid()));

// Connects from 127.0.1.<source> so that many clients are many addresses.
int Connect(int port, int source) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(0x7f000100u + static_cast<uint32_t>(source % 250 + 1));
  bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

std::string ReadToEnd(int fd) {
  std::string reply;
  char buffer[4096];
  ssize_t got;
  while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, static_cast<size_t>(got));
  return reply;
}

// The paths asked for: a missing file closing each connection, and one kept alive.
constexpr const char* kClosePath = "/missing";
constexpr const char* kKeepPath = "/keep";

// Requests per second that wrk gets for `path` with `connections` connections.
double WrkRequestsPerSecond(int port, int connections, const char* path) {
  const std::string close = path == kClosePath ? "-H 'Connection: close' " : "";
  const std::string command = "wrk -t2 -c" + std::to_string(connections) + " -d" + std::to_string(kRunTime.count()) +
                              "s " + close + "http://127.0.0.1:" + std::to_string(port) + path + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  double rate = 0;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    if (sscanf(line, " Requests/sec: %lf", &rate) == 1) continue;
    if (strstr(line, "Socket errors") != nullptr) printf("  (%s)\n", strtok(line, "\n"));
  }
  pclose(pipe);
  return rate;
}

// Reads one reply framed by its Content-Length; false when the connection ends first.
bool ReadOneReply(int fd) {
  std::string reply;
  char buffer[4096];
  for (;;) {
    const size_t end = reply.find("\r\n\r\n");
    const size_t length = reply.find("Content-Length: ");
    if (end != std::string::npos && length != std::string::npos &&
        reply.size() >= end + 4 + std::stoul(reply.substr(length + 16))) {
      return true;
    }
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    reply.append(buffer, static_cast<size_t>(got));
  }
}

// A process that sends `count` requests for `path` one after the other, a connection each
// (kClosePath) or all on one, once Go is called. It is started before the count so that a
// tracer that follows the server's new processes does not count its calls.
class OneByOneClient {
public:
  OneByOneClient(int port, int count, const char* path) {
    int go[2];
    if (pipe(go) != 0) return;
    const bool closing = path == kClosePath;
    const std::string request =
        std::string("GET ") + path + " HTTP/1.1\r\nHost: bench\r\n" + (closing ? "Connection: close\r\n" : "") + "\r\n";
    pid_ = fork();
    if (pid_ == 0) {
      char reply[4096];
      close(go[1]);
      if (read(go[0], reply, 1) != 1) _exit(1);
      int fd = -1;
      for (int i = 0; i < count; ++i) {
        if (fd < 0) fd = Connect(port, 0);
        if (fd < 0 || !SendAll(fd, request.data(), request.size())) _exit(1);
        if (closing || !ReadOneReply(fd)) {
          while (recv(fd, reply, sizeof reply, 0) > 0) {
          }
          close(fd);
          fd = -1;
        }
      }
      _exit(0);
    }
    close(go[0]);
    go_ = go[1];
  }
  ~OneByOneClient() {
    if (go_ >= 0) close(go_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  // Starts the requests and waits until they are answered.
  void Go() {
    if (go_ < 0 || write(go_, "g", 1) != 1) return;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

private:
  pid_t pid_ = -1;
  int go_ = -1;
};

// True once every thread of the process has a tracer.
bool AllThreadsTraced(pid_t pid) {
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line) && !line.starts_with("TracerPid:")) {
    }
    if (line.empty() || std::stol(line.substr(10)) == 0) return false;
  }
  return !error;
}

// Calls per request by system call (the total under ""), as strace counts them in the
// processes `pids` while they answer kSyscallRequests 404s for `path` sent one by one.
constexpr int kSyscallRequests = 500;
std::map<std::string, double> SyscallsPerRequest(const std::vector<pid_t>& pids, int port, const char* path) {
  std::map<std::string, double> calls;
  const std::string summary = (kFolder / "strace.txt").string();
  std::vector<std::string> arguments = {"strace", "-f", "-c", "-o", summary};
  for (const pid_t pid : pids) arguments.insert(arguments.end(), {"-p", std::to_string(pid)});
  OneByOneClient(port, 20, path).Go();  // threads started and files opened before the count
  OneByOneClient client(port, kSyscallRequests, path);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t tracer = -1;
  if (posix_spawnp(&tracer, "strace", nullptr, nullptr, argv.data(), environ) != 0) return calls;
  for (int i = 0; i < 100 && !std::all_of(pids.begin(), pids.end(), AllThreadsTraced); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  client.Go();
  kill(tracer, SIGINT);
  waitpid(tracer, nullptr, 0);
  // Rows: "% time  seconds  usecs/call  calls  [errors]  syscall", then a "total" row.
  std::ifstream rows(summary);
  std::string row;
  while (std::getline(rows, row)) {
    std::istringstream fields(row);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) words.push_back(word);
    if (words.size() < 5 || !isdigit(static_cast<unsigned char>(words[3][0]))) continue;
    calls[words.back() == "total" ? "" : words.back()] = std::stod(words[3]) / kSyscallRequests;
  }
  return calls;
}

// The worker processes of an nginx master.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  std::ifstream list("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
  for (pid_t child; list >> child;) children.push_back(child);
  return children;
}

void PrintSyscalls(int engine_port, int nginx_port, pid_t nginx, const char* path) {
  // strace runs as a child of this process and attaches to it.
  prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
  const auto ours = SyscallsPerRequest({getpid()}, engine_port, path);
  std::map<std::string, double> theirs;
  if (nginx > 0) {
    std::vector<pid_t> processes = ChildrenOf(nginx);
    processes.push_back(nginx);
    theirs = SyscallsPerRequest(processes, nginx_port, path);
  }
  printf("system calls per 404, %s, %d one after the other (strace -f -c)\n",
         path == kClosePath ? "one per connection" : "all on one kept connection", kSyscallRequests);
  if (ours.empty()) {
    printf("  (strace did not run)\n");
    return;
  }
  printf("  %-14s %8s %8s\n", "call", "engine", "nginx");
  std::map<std::string, double> rows = ours;
  rows.insert(theirs.begin(), theirs.end());
  for (const auto& [name, count] : rows) {
    const auto value = [&name](const std::map<std::string, double>& from) {
      const auto found = from.find(name);
      return found == from.end() ? 0.0 : found->second;
    };
    if (!name.empty() && std::max(value(ours), value(theirs)) >= 0.05) {
      printf("  %-14s %8.2f %8.2f\n", name.c_str(), value(ours), value(theirs));
    }
  }
  const double total = ours.at(""), peer = theirs.contains("") ? theirs.at("") : 0;
  printf("  %-14s %8.2f %8.2f %7.2fx\n", "all", total, peer, peer > 0 ? total / peer : 0);
}

// Sends kUploadSize bytes after head; returns MB/s until the server's reply is complete.
double Upload(int port, const std::string& head) {
  const int fd = Connect(port, 0);
  if (fd < 0) return 0;
  std::vector<char> block(64 << 10, 'u');
  const auto start = Clock::now();
  bool ok = SendAll(fd, head.data(), head.size());
  for (uint64_t left = kUploadSize; ok && left > 0; left -= std::min<uint64_t>(left, block.size())) {
    ok = SendAll(fd, block.data(), std::min<uint64_t>(left, block.size()));
  }
  const std::string reply = ReadToEnd(fd);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(fd);
  if (!ok || reply.find(" 20") == std::string::npos) printf("  upload failed: %s\n", reply.substr(0, 60).c_str());
  return static_cast<double>(kUploadSize) / (1 << 20) / seconds;
}

// The raw limit: one loopback connection read in read_size pieces into a file.
double RawLoopbackToFile(size_t read_size) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener, 1);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::thread receiver([&] {
    const int fd = accept(listener, nullptr, nullptr);
    FILE* file = fopen((kFolder / "raw.bin").c_str(), "wb");
    std::vector<char> buffer(read_size);
    ssize_t got;
    while ((got = recv(fd, buffer.data(), buffer.size(), 0)) > 0) fwrite(buffer.data(), 1, static_cast<size_t>(got), file);
    fclose(file);
    send(fd, "HTTP/1.1 200 OK\r\n\r\n", 19, MSG_NOSIGNAL);
    close(fd);
  });
  const int fd = Connect(ntohs(address.sin_port), 0);
  std::vector<char> block(64 << 10, 'u');
  const auto start = Clock::now();
  for (uint64_t left = kUploadSize; left > 0; left -= block.size()) SendAll(fd, block.data(), block.size());
  shutdown(fd, SHUT_WR);
  ReadToEnd(fd);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(fd);
  receiver.join();
  close(listener);
  return static_cast<double>(kUploadSize) / (1 << 20) / seconds;
}

// The engine's handlers: a bodiless reply, and an upload written into a file by the
// program's own spool-file writer, as the print service writes a phone's document.
void EmptyReply(mg_conn* conn, const mg_request*, void*) {
  mg_send_formatted(conn, "%s", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
}

// The kept-alive 404 of the persistent entry.
void NotFoundKeptAlive(mg_conn* conn, const mg_request*, void*) {
  constexpr std::string_view kBody = "Error 404: Not Found\nFile not found";
  mg_send_formatted(conn, "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: %zu\r\n\r\n%s",
                    kBody.size(), kBody.data());
}

int UploadBegin(mg_conn*, const mg_request*, void* file) {
  std::filesystem::remove(kFolder / "engine-upload.bin");
  *static_cast<CNewFile*>(file) = CNewFile::Create((kFolder / "engine-upload.bin").string());
  return static_cast<CNewFile*>(file)->IsOpen();
}

int UploadData(mg_conn*, const mg_request*, const char* bytes, int length, void* file) {
  return static_cast<CNewFile*>(file)->Write(bytes, static_cast<size_t>(length));
}

void UploadEnd(mg_conn* conn, const mg_request*, void* file) {
  static_cast<CNewFile*>(file)->Close();
  EmptyReply(conn, nullptr, nullptr);
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// nginx from Debian with its own configuration: an empty root and WebDAV PUT into a file.
pid_t StartNginx(int port) {
  const std::filesystem::path folder = kFolder / "nginx";
  std::filesystem::create_directories(folder / "files");
  std::ofstream(folder / "nginx.conf")
      << (geteuid() == 0 ? "user root;\n" : "") << "worker_processes 2;\ndaemon off;\npid " << (folder / "nginx.pid").string() << ";\nerror_log "
      << (folder / "error.log").string() << ";\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n"
      << "  client_body_temp_path " << (folder / "body").string() << ";\n  proxy_temp_path " << (folder / "proxy").string()
      << ";\n  fastcgi_temp_path " << (folder / "fastcgi").string() << ";\n  uwsgi_temp_path " << (folder / "uwsgi").string()
      << ";\n  scgi_temp_path " << (folder / "scgi").string() << ";\n  keepalive_timeout 0;\n  server {\n    listen 127.0.0.1:"
      << port << ";\n    root " << (kFolder / "www").string() << ";\n    location /files/ { root " << folder.string()
      << "; dav_methods PUT; client_max_body_size 0; }\n    location /keep { keepalive_timeout 5s; log_not_found off; }\n"
      << "  }\n}\n";
  const std::string config = (folder / "nginx.conf").string();
  const char* argv[] = {"nginx", "-c", config.c_str(), "-e", (folder / "error.log").c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawnp(&pid, "nginx", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  for (int i = 0; i < 50; ++i) {  // ready when it accepts
    const int fd = Connect(port, 0);
    if (fd >= 0) {
      close(fd);
      return pid;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return pid;
}

// Every figure: request rates, system calls and uploads.
void CompareAll(int engine_port, int nginx_port, pid_t nginx) {
  for (const char* path : {kClosePath, kKeepPath}) {
    // wrk connects from one address: the engine serves 16 of its connections at once, the
    // others wait for their turn.
    printf("wrk, 404 for a missing path, %s (requests/s, %lld s each, alternating)\n",
           path == kClosePath ? "Connection: close" : "kept alive", static_cast<long long>(kRunTime.count()));
    printf("  %-12s %10s %10s %8s\n", "connections", "engine", "nginx", "ratio");
    for (int round = 0; round < 2; ++round) {
      for (int connections : {10, 50}) {
        const double ours = WrkRequestsPerSecond(engine_port, connections, path);
        const double theirs = nginx > 0 ? WrkRequestsPerSecond(nginx_port, connections, path) : 0;
        printf("  %-12d %10.0f %10.0f %7.2fx\n", connections, ours, theirs, theirs > 0 ? ours / theirs : 0);
        fflush(stdout);
      }
    }
  }

  for (const char* path : {kClosePath, kKeepPath}) PrintSyscalls(engine_port, nginx_port, nginx, path);

  const std::string length = "Content-Length: " + std::to_string(kUploadSize) + "\r\n\r\n";
  printf("256 MiB upload streamed into a file (MB/s)\n");
  const double ours = Upload(engine_port, "POST /upload HTTP/1.1\r\n" + length);
  const double limit = RawLoopbackToFile(64 << 10);
  printf("  engine into a spool file      %8.0f  %.2fx the 64 KiB limit\n", ours, ours / limit);
  if (nginx > 0) {
    printf("  nginx (WebDAV PUT)             %8.0f\n",
           Upload(nginx_port, "PUT /files/upload.bin HTTP/1.1\r\nHost: bench\r\n" + length));
  }
  printf("  raw loopback-to-file, 64 KiB   %8.0f\n", limit);
  printf("  raw loopback-to-file, 512 B    %8.0f\n", RawLoopbackToFile(512));
}

}  // namespace

// With the argument "syscalls" only the system calls are counted.
int main(int argc, char** argv) {
  const bool only_syscalls = argc > 1 && std::string_view(argv[1]) == "syscalls";
  std::filesystem::create_directories(kFolder / "www");
  mg_ctx* engine = mg_start();
  CNewFile upload;
  // As the print service runs it, with its own empty root; both servers log each 404, the
  // engine to the standard error stream (here a file, unbuffered as the stream is).
  if (freopen((kFolder / "engine-error.log").c_str(), "a", stderr) == nullptr) return 1;
  setvbuf(stderr, nullptr, _IONBF, 0);
  mg_set_option(engine, "dir_list", "no");
  mg_set_option(engine, "root", (kFolder / "www").c_str());
  const int engine_port = FreePort();
  mg_set_option(engine, "ports", ("127.0.0.1:" + std::to_string(engine_port)).c_str());
  mg_set_uri_handlers(engine, "/upload", UploadBegin, UploadData, UploadEnd, &upload);
  mg_set_uri_handlers(engine, kKeepPath, nullptr, nullptr, NotFoundKeptAlive, nullptr);
  mg_set_uri_persistent(engine, kKeepPath, 1);
  const int nginx_port = FreePort();
  const pid_t nginx = StartNginx(nginx_port);

  if (only_syscalls) {
    for (const char* path : {kClosePath, kKeepPath}) PrintSyscalls(engine_port, nginx_port, nginx, path);
  } else {
    CompareAll(engine_port, nginx_port, nginx);
  }
  if (nginx > 0) {
    kill(nginx, SIGTERM);
    waitpid(nginx, nullptr, 0);
  }
  mg_stop(engine);
  std::filesystem::remove_all(kFolder);
  return 0;
}

