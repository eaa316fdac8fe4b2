// Benchmark: queue polls answered per second by olvaro-relay with 1,000 and 10,000
// simulated PCs, on SQLite and on PostgreSQL, beside nginx answering a static "0" on
// the same path in the same run; and the relay's peak memory while a 1 GiB document
// streams in, beside its memory at rest and the document's size.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/relay/relayprocess.h"
#include "tests/support/servicetest.h"
#include "tests/support/testenv.h"

extern char** environ;

namespace {

constexpr int kClients = 16;
constexpr auto kMeasure = std::chrono::seconds(4);

// One keep-alive request; true when the answer is 200 with the body "0".
bool Poll(PhoneConnection& connection, const std::string& path) {
  if (!connection.Send("GET " + path + " HTTP/1.1\r\nHost: bench\r\n\r\n")) return false;
  const std::string head = connection.ReadUntil("\r\n\r\n");
  return head.starts_with("HTTP/1.1 200") && head.find("Content-Length: 1\r\n") != std::string::npos &&
         connection.ReadUntil("0") == "0";
}

std::string Identity(int pc) {
  char uuid[40];
  std::snprintf(uuid, sizeof uuid, "%08x-0000-4000-8000-%012x", pc + 1, pc * 7919 + 1);
  return uuid;
}

std::string QueuePath(const std::string& uuid) {
  return "/api/olvarocloud/q/" + uuid.substr(0, 1) + "/" + uuid.substr(1, 1) + "/" + uuid;
}

// Polls per second from kClients keep-alive connections cycling through `pcs` PCs;
// with `once`, every PC polls exactly once instead (the PCs' first contact).
double PollsPerSecond(int port, int pcs, bool once = false) {
  std::atomic<long> answered{0};
  std::atomic<bool> failed{false};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int client = 0; client < kClients; ++client) {
    clients.emplace_back([&, client] {
      PhoneConnection connection(static_cast<uint16_t>(port));
      for (int pc = client; connection.IsConnected(); pc += kClients) {
        if (once && pc >= pcs) break;
        if (!once && std::chrono::steady_clock::now() - start > kMeasure) break;
        if (!Poll(connection, QueuePath(Identity(pc % pcs)))) {
          failed = true;
          break;
        }
        ++answered;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return failed ? -1 : answered / seconds;
}

pid_t StartNginx(const std::string& folder, int port) {
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/nginx.conf")
      << (geteuid() == 0 ? "user root;\n" : "") << "worker_processes 2;\ndaemon off;\npid " << folder
      << "/nginx.pid;\nerror_log " << folder << "/error.log;\nevents { worker_connections 1024; }\nhttp {\n"
      << "  access_log off;\n  client_body_temp_path " << folder << "/body;\n  proxy_temp_path " << folder
      << "/proxy;\n  fastcgi_temp_path " << folder << "/fastcgi;\n  uwsgi_temp_path " << folder
      << "/uwsgi;\n  scgi_temp_path " << folder << "/scgi;\n  keepalive_requests 1000000;\n"
      << "  server {\n    listen 127.0.0.1:" << port << ";\n"
      << "    location /api/olvarocloud/q/ { default_type text/plain; return 200 \"0\"; }\n  }\n}\n";
  const std::string config = folder + "/nginx.conf";
  const std::string errors = folder + "/error.log";
  const char* argv[] = {"nginx", "-c", config.c_str(), "-e", errors.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawnp(&pid, "nginx", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  for (int i = 0; i < 50; ++i) {
    if (PhoneConnection(static_cast<uint16_t>(port)).IsConnected()) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return pid;
}

// The process's peak resident memory so far, in MiB.
double PeakMemoryMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024;
  }
  return -1;
}

// Streams `mib` MiB to the relay as one upload; the answer's status line.
std::string StreamUpload(const RelayProcess& relay, const SenderClient& sender, long long mib) {
  PhoneConnection connection(static_cast<uint16_t>(relay.Port()));
  connection.Send("POST /upload?name=big.pdf&copies=1 HTTP/1.1\r\nHost: bench\r\nContent-Length: " +
                  std::to_string(mib << 20) + "\r\nCookie: olvaro_pairing=" + sender.token +
                  "\r\nX-CSRF-Token: " + sender.csrf + "\r\n\r\n");
  const std::string chunk(1 << 20, 'p');
  for (long long sent = 0; sent < mib && connection.Send(chunk); ++sent) {
  }
  const std::string status = connection.ReadUntil("\r\n");
  return status.substr(0, status.find("\r\n"));
}

}  // namespace

int main(int argc, char** argv) {
  const long long uploadMiB = argc > 1 ? std::atoll(argv[1]) : 1024;
  signal(SIGPIPE, SIG_IGN);
  TestEnvironment environment;
  const int nginxPort = FindFreePort();
  const pid_t nginx = StartNginx(environment.Root() + "nginx", nginxPort);

  std::printf("queue polls answered per second (%d keep-alive clients, empty queues, plain HTTP on loopback)\n", kClients);
  std::printf("  %-10s %8s %14s %14s\n", "storage", "PCs", "olvaro-relay", "nginx \"0\"");
  const std::string postgres = PostgresServer::Get().NewDatabase();
  for (const std::string storage : {"sqlite", "postgresql"}) {
    std::vector<std::string> options = {"--threads", "8"};
    if (storage == "postgresql") options.insert(options.end(), {"--database", postgres});
    RelayProcess relay(environment.Root() + storage, options, false);
    if (!relay.Started() || (storage == "postgresql" && postgres.empty())) {
      std::printf("  %-10s relay did not start: %s\n", storage.c_str(), PostgresServer::Get().Error().c_str());
      continue;
    }
    for (const int pcs : {1000, 10000}) {
      PollsPerSecond(relay.Port(), pcs, true);  // every PC known before measuring
      const double ours = PollsPerSecond(relay.Port(), pcs);
      const double theirs = nginx > 0 ? PollsPerSecond(nginxPort, pcs) : -1;
      std::printf("  %-10s %8d %14.0f %14.0f\n", storage.c_str(), pcs, ours, theirs);
    }
  }
  if (nginx > 0) {
    kill(nginx, SIGTERM);
    waitpid(nginx, nullptr, 0);
  }

  RelayProcess relay(environment.Root() + "upload", {"--max-document-mib", std::to_string(uploadMiB + 1)}, false);
  const DesktopClient desktop{relay, Identity(0)};
  SenderClient sender(relay);
  if (!relay.Started() || sender.Pair(desktop.AuthCode()) != 200) {
    std::printf("upload: the relay did not start or pair\n");
    return 1;
  }
  const double rest = PeakMemoryMiB(relay.Pid());
  const auto start = std::chrono::steady_clock::now();
  const std::string answer = StreamUpload(relay, sender, uploadMiB);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("upload of %lld MiB: %s in %.1f s (%.0f MiB/s)\n", uploadMiB, answer.c_str(), seconds, uploadMiB / seconds);
  std::printf("  relay peak memory %.1f MiB while it streamed in (%.1f MiB at rest; the document is %lld MiB)\n",
              PeakMemoryMiB(relay.Pid()), rest, uploadMiB);
  return answer.find(" 201 ") != std::string::npos ? 0 : 1;
}
