// Benchmark: the engine beside nginx, measured by wrk from outside the process: a 404 for
// a missing path, one request per connection, at 10 and 50 connections; and a 256 MiB
// upload streamed into a file beside the raw loopback-to-file limit. Prints figures and
// their ratios; asserts nothing.
#include "httpengine/httpengine.h"
#include "platform/newfile.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
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

// Requests per second that wrk gets for a missing path with `connections` connections.
double WrkRequestsPerSecond(int port, int connections) {
  const std::string command = "wrk -t2 -c" + std::to_string(connections) + " -d" + std::to_string(kRunTime.count()) +
                              "s -H 'Connection: close' http://127.0.0.1:" + std::to_string(port) + "/missing 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  double rate = 0;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    if (sscanf(line, " Requests/sec: %lf", &rate) == 1) continue;
    if (strstr(line, "Socket errors") != nullptr) fprintf(stderr, "  (%s)\n", strtok(line, "\n"));
  }
  pclose(pipe);
  return rate;
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
  if (!ok || reply.find(" 20") == std::string::npos) fprintf(stderr, "  upload failed: %s\n", reply.substr(0, 60).c_str());
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
      << "; dav_methods PUT; client_max_body_size 0; }\n  }\n}\n";
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

}  // namespace

int main() {
  std::filesystem::create_directories(kFolder / "www");
  mg_ctx* engine = mg_start();
  CNewFile upload;
  // As the print service runs it, with its own empty root; both servers log each 404.
  mg_set_option(engine, "dir_list", "no");
  mg_set_option(engine, "root", (kFolder / "www").c_str());
  mg_set_option(engine, "error_log", (kFolder / "engine-error.log").c_str());
  const int engine_port = FreePort();
  mg_set_option(engine, "ports", ("127.0.0.1:" + std::to_string(engine_port)).c_str());
  mg_set_uri_handlers(engine, "/upload", UploadBegin, UploadData, UploadEnd, &upload);
  const int nginx_port = FreePort();
  const pid_t nginx = StartNginx(nginx_port);

  printf("wrk, 404 for a missing path, Connection: close (requests/s, %lld s each, alternating)\n",
         static_cast<long long>(kRunTime.count()));
  printf("  %-12s %10s %10s %8s\n", "connections", "engine", "nginx", "ratio");
  for (int round = 0; round < 2; ++round) {
    for (int connections : {10, 50}) {
      const double ours = WrkRequestsPerSecond(engine_port, connections);
      const double theirs = nginx > 0 ? WrkRequestsPerSecond(nginx_port, connections) : 0;
      printf("  %-12d %10.0f %10.0f %7.2fx\n", connections, ours, theirs, theirs > 0 ? ours / theirs : 0);
      fflush(stdout);
    }
  }

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

  if (nginx > 0) {
    kill(nginx, SIGTERM);
    waitpid(nginx, nullptr, 0);
  }
  mg_stop(engine);
  std::filesystem::remove_all(kFolder);
  return 0;
}
