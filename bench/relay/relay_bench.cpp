// Benchmark: queue polls answered per second by olvaro-relay with 1,000, 10,000 and
// 100,000 PCs, on SQLite and on PostgreSQL, over kept-alive connections and with a new
// connection per poll, beside nginx answering a static "0" on the same path in the same
// run, after a warm-up pass that polls each PC once, whose rate stands beside; the relay's
// memory with them; then 100,000 PCs at the desktop's pace, each polling again only after
// its last poll has aged, with the database's transactions and rows written per poll;
// and, on both storages, a 1 GiB document's upload and download rates by curl beside curl
// putting the same file into nginx and getting it back, with the relay's peak memory
// beside its memory at rest and the document's size.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "relay/sqldatabase.h"
#include "tests/relay/relayprocess.h"
#include "tests/support/servicetest.h"
#include "tests/support/testenv.h"

extern char** environ;

namespace {

constexpr int kClients = 16;
constexpr auto kMeasure = std::chrono::seconds(3);
// The desktop polls every minute. Any pause longer than the 10 s after which a PC's poll
// used to read its queue and write its last-seen time again, and shorter than the minutes
// for which the relay answers an empty queue from memory, meets the relay as a minute does.
constexpr auto kDesktopPause = std::chrono::seconds(12);
// Enough for the relay to write the last-seen times of a pass, and for the database
// server to publish its counts.
constexpr auto kSettle = std::chrono::seconds(7);

// A poller's connection. Its port is left to connect(), not bound first, so that ports
// whose connections wait out TIME_WAIT are reused: a new connection per poll goes
// through tens of thousands of them in one measurement.
class PollConnection {
public:
  explicit PollConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~PollConnection() {
    if (fd_ >= 0) close(fd_);
  }
  PollConnection(const PollConnection&) = delete;
  PollConnection& operator=(const PollConnection&) = delete;

  // One request; true when the answer is 200 with the body "0".
  bool Poll(const std::string& path) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: bench\r\n\r\n";
    if (fd_ < 0 || send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
      return false;
    }
    std::string answer;
    char buffer[1024];
    size_t end;
    while ((end = answer.find("\r\n\r\n")) == std::string::npos || answer.size() < end + 5) {
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      answer.append(buffer, static_cast<size_t>(got));
    }
    return answer.starts_with("HTTP/1.1 200") && answer.find("Content-Length: 1\r\n") < end &&
           answer.substr(end + 4) == "0";
  }

private:
  int fd_;
};

std::string Identity(int pc) {
  char uuid[40];
  std::snprintf(uuid, sizeof uuid, "%08x-0000-4000-8000-%012x", pc + 1, pc * 7919 + 1);
  return uuid;
}

std::string QueuePath(const std::string& uuid) {
  return "/api/olvarocloud/q/" + uuid.substr(0, 1) + "/" + uuid.substr(1, 1) + "/" + uuid;
}

// Polls per second from kClients clients cycling through `pcs` PCs, each over one
// kept-alive connection or with a new connection per poll, for kMeasure or, with `once`,
// until each PC has polled once.
double PollsPerSecond(int port, int pcs, bool keepAlive, bool once = false) {
  std::atomic<long> answered{0};
  std::atomic<bool> failed{false};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int client = 0; client < kClients; ++client) {
    clients.emplace_back([&, client] {
      std::unique_ptr<PollConnection> connection;
      for (int pc = client; once ? pc < pcs : std::chrono::steady_clock::now() - start < kMeasure; pc += kClients) {
        if (!connection || !keepAlive) connection = std::make_unique<PollConnection>(port);
        if (!connection->Poll(QueuePath(Identity(pc % pcs)))) {
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

// Makes the PCs from `from` up to `to` known to the relay's storage, written in bulk
// rather than by first polls, which would take longer than the measurements.
bool AddPcs(SqlConnection& db, int from, int to) {
  constexpr int kRowsPerStatement = 500;
  return db.Transaction([&] {
    for (int first = from; first < to; first += kRowsPerStatement) {
      std::string insert = "INSERT INTO pcs (uuid, created, last_seen) VALUES ";
      for (int pc = first; pc < std::min(to, first + kRowsPerStatement); ++pc) {
        insert += (pc == first ? "('" : ",('") + Identity(pc) + "', 0, 0)";
      }
      if (!db.Execute(insert).ok) return false;
    }
    return true;
  });
}

// What the database server counts for the relay's database: transactions (a statement
// outside one counts as one) and rows written. PostgreSQL only.
struct DatabaseWork {
  double transactions = -1;
  double rowsWritten = -1;
};

DatabaseWork Work(SqlConnection& db) {
  const SqlResult counted = db.Execute(
      "SELECT xact_commit + xact_rollback, tup_inserted + tup_updated + tup_deleted FROM pg_stat_database"
      " WHERE datname = current_database()");
  if (!counted.ok || counted.rows.empty()) return {};
  return {std::atof(counted.rows[0][0].c_str()), std::atof(counted.rows[0][1].c_str())};
}

// `pcs` PCs polling at the desktop's pace, a pass over all of them for each kind of
// connection, beside nginx; on PostgreSQL with the database's work per poll.
void PollAtDesktopPace(const std::string& storage, SqlConnection& db, int relayPort, int nginxPort, int pcs) {
  for (const bool keepAlive : {true, false}) {
    std::this_thread::sleep_for(kDesktopPause);
    const bool counted = storage == "postgresql";
    const DatabaseWork before = counted ? Work(db) : DatabaseWork{};
    const double ours = PollsPerSecond(relayPort, pcs, keepAlive, true);
    const double theirs = nginxPort > 0 ? PollsPerSecond(nginxPort, pcs, keepAlive, true) : -1;
    std::this_thread::sleep_for(kSettle);
    const DatabaseWork after = counted ? Work(db) : DatabaseWork{};
    std::printf("  %-10s %8d %-12s %14.0f %14.0f %7.2fx", storage.c_str(), pcs, keepAlive ? "kept alive" : "one a poll",
                ours, theirs, theirs > 0 ? ours / theirs : 0.0);
    if (counted && before.transactions >= 0 && after.transactions >= 0) {
      std::printf(" %14.5f %14.5f\n", (after.transactions - before.transactions) / pcs,
                  (after.rowsWritten - before.rowsWritten) / pcs);
    } else {
      std::printf(" %14s %14s\n", "-", "-");
    }
    std::fflush(stdout);
  }
}

pid_t StartNginx(const std::string& folder, int port) {
  std::filesystem::create_directories(folder + "/files");
  std::ofstream(folder + "/nginx.conf")
      << (geteuid() == 0 ? "user root;\n" : "") << "worker_processes 2;\ndaemon off;\npid " << folder
      << "/nginx.pid;\nerror_log " << folder << "/error.log;\nevents { worker_connections 1024; }\nhttp {\n"
      << "  access_log off;\n  client_body_temp_path " << folder << "/body;\n  proxy_temp_path " << folder
      << "/proxy;\n  fastcgi_temp_path " << folder << "/fastcgi;\n  uwsgi_temp_path " << folder
      << "/uwsgi;\n  scgi_temp_path " << folder << "/scgi;\n  keepalive_requests 1000000;\n  sendfile on;\n"
      << "  server {\n    listen 127.0.0.1:" << port << ";\n"
      << "    location /api/olvarocloud/q/ { default_type text/plain; return 200 \"0\"; }\n"
      << "    location /files/ { root " << folder << "; dav_methods PUT; client_max_body_size 0; }\n  }\n}\n";
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

// The process's resident memory in MiB: now ("VmRSS:") or its peak so far ("VmHWM:").
double MemoryMiB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field)) return std::stod(line.substr(field.size())) / 1024;
  }
  return -1;
}

// One transfer by curl: its rate in MB/s (-1 when it failed) and the answer's status.
struct Transfer {
  double rate = -1;
  std::string status;
};

// curl with `arguments`; `upload` says which rate counts.
Transfer Curl(const std::vector<std::string>& arguments, bool upload) {
  std::vector<std::string> command = {"curl", "-s", "-o", "/dev/null", "-H", "Expect:", "-w",
                                      upload ? "%{speed_upload} %{http_code}" : "%{speed_download} %{http_code}"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const std::string output = ReadProgramOutput(command).value_or("");
  const auto space = output.find(' ');
  if (space == std::string::npos) return {};
  return {std::atof(output.c_str()) / 1e6, output.substr(space + 1)};
}

void PrintTransfer(const char* store, const char* direction, const Transfer& ours, const Transfer& theirs) {
  std::printf("  %-10s %-9s %10.0f %4s %12.0f %4s %7.2fx\n", store, direction, ours.rate, ours.status.c_str(),
              theirs.rate, theirs.status.c_str(), theirs.rate > 0 ? ours.rate / theirs.rate : 0.0);
}

// The document's way through a relay on `storage`: up from a sender, down to the PC.
bool MeasureTransfers(const std::string& storage, const std::string& folder, const std::string& document,
                      long long mib, const Transfer& nginxUp, const Transfer& nginxDown) {
  std::vector<std::string> options = {"--max-document-mib", std::to_string(mib + 1)};
  if (storage == "postgresql") options.insert(options.end(), {"--database", PostgresServer::Get().NewDatabase()});
  RelayProcess relay(folder, options, false);
  const DesktopClient desktop{relay, Identity(0)};
  SenderClient sender(relay);
  if (!relay.Started() || sender.Pair(desktop.AuthCode()) != 200) {
    std::printf("  %-10s the relay did not start or pair\n", storage.c_str());
    return false;
  }
  const double rest = MemoryMiB(relay.Pid(), "VmHWM:");
  const Transfer up = Curl({"-T", document, "-X", "POST", "-H", "Cookie: olvaro_pairing=" + sender.token, "-H",
                            "X-CSRF-Token: " + sender.csrf, relay.BaseUrl() + "/upload?name=big.pdf&copies=1"},
                           true);
  const std::string id = desktop.Queue().substr(0, 32);
  const Transfer down = Curl({relay.Api("upload/" + id)}, false);
  PrintTransfer(storage.c_str(), "upload", up, nginxUp);
  PrintTransfer(storage.c_str(), "download", down, nginxDown);
  std::printf("  %-10s relay peak memory %.1f MiB through both (%.1f MiB at rest; the document is %lld MiB)\n",
              storage.c_str(), MemoryMiB(relay.Pid(), "VmHWM:"), rest, mib);
  return up.status == "201" && down.status == "200";
}

}  // namespace

int main(int argc, char** argv) {
  const long long uploadMiB = argc > 1 ? std::atoll(argv[1]) : 1024;
  signal(SIGPIPE, SIG_IGN);
  TestEnvironment environment;
  const int nginxPort = FindFreePort();
  const pid_t nginx = StartNginx(environment.Root() + "nginx", nginxPort);

  std::printf("queue polls answered per second (%d clients, empty queues, plain HTTP on loopback, %lld s each)\n",
              kClients, static_cast<long long>(kMeasure.count()));
  std::printf("  %-10s %8s %-12s %14s %14s %8s %14s\n", "storage", "PCs", "connections", "olvaro-relay", "nginx \"0\"",
              "ratio", "warm-up");
  const std::string postgres = PostgresServer::Get().NewDatabase();
  // Each storage's relay with all its PCs, for the desktop's pace after.
  struct Polled {
    std::string storage;
    std::unique_ptr<RelayProcess> relay;
    std::unique_ptr<SqlConnection> db;
    int pcs = 0;
  };
  std::vector<Polled> polled;
  for (const std::string storage : {"sqlite", "postgresql"}) {
    // All the clients come from one address.
    std::vector<std::string> options = {"--threads", "8", "--max-connections-per-address", "512"};
    if (storage == "postgresql") options.insert(options.end(), {"--database", postgres});
    auto started = std::make_unique<RelayProcess>(environment.Root() + storage, options, false);
    const RelayProcess& relay = *started;
    std::string error;
    const std::string target = storage == "postgresql" ? postgres : environment.Root() + storage + "/relay.sqlite";
    auto db = relay.Started() ? OpenSqlConnection(target, error) : nullptr;
    if (!db) {
      std::printf("  %-10s relay did not start: %s %s\n", storage.c_str(), error.c_str(),
                  PostgresServer::Get().Error().c_str());
      continue;
    }
    int known = 0;
    for (const int pcs : {1000, 10000, 100000}) {
      if (!AddPcs(*db, known, pcs)) {
        std::printf("  %-10s cannot add PCs\n", storage.c_str());
        break;
      }
      known = pcs;
      for (const bool keepAlive : {true, false}) {
        // A running relay has heard each PC before. The warm-up polls read the database
        // for the PCs not heard yet (most of them in the kept-alive row of each size).
        const double first = PollsPerSecond(relay.Port(), pcs, keepAlive, true);
        const double ours = PollsPerSecond(relay.Port(), pcs, keepAlive);
        const double theirs = nginx > 0 ? PollsPerSecond(nginxPort, pcs, keepAlive) : -1;
        std::printf("  %-10s %8d %-12s %14.0f %14.0f %7.2fx %14.0f\n", storage.c_str(), pcs,
                    keepAlive ? "kept alive" : "one a poll", ours, theirs, theirs > 0 ? ours / theirs : 0.0, first);
        std::fflush(stdout);
      }
      std::printf("  %-10s %8d PCs: the relay's resident memory %.1f MiB\n", storage.c_str(), pcs,
                  MemoryMiB(relay.Pid(), "VmRSS:"));
    }
    polled.push_back({storage, std::move(started), std::move(db), known});
  }
  std::printf("\nthe PCs at the desktop's pace: a pass over all of them, each PC's last poll %lld s before;\n"
              "the database's transactions and rows written per poll, the last-seen times' batches included\n",
              static_cast<long long>(kDesktopPause.count()));
  std::printf("  %-10s %8s %-12s %14s %14s %8s %14s %14s\n", "storage", "PCs", "connections", "olvaro-relay",
              "nginx \"0\"", "ratio", "transactions", "rows written");
  for (Polled& each : polled) {
    PollAtDesktopPace(each.storage, *each.db, each.relay->Port(), nginx > 0 ? nginxPort : -1, each.pcs);
  }
  polled.clear();
  std::printf("\na %lld MiB document by curl over plain HTTP on loopback, in MB/s, beside nginx putting it into a\n"
              "file and serving it back (the PostgreSQL here runs with fsync=off, as the tests' does; the relay\n"
              "syncs its files, nginx does not)\n", uploadMiB);
  std::printf("  %-10s %-9s %15s %17s %8s\n", "storage", "direction", "olvaro-relay", "nginx", "ratio");
  const std::string document = environment.Root() + "document.bin";
  {
    std::ofstream file(document, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (long long mib = 0; mib < uploadMiB; ++mib) {
      for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131 + mib * 7) % 251);
      file.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  const std::string nginxFile = "http://127.0.0.1:" + std::to_string(nginxPort) + "/files/document.bin";
  const Transfer nginxUp = nginx > 0 ? Curl({"-T", document, nginxFile}, true) : Transfer{};
  const Transfer nginxDown = nginx > 0 ? Curl({nginxFile}, false) : Transfer{};
  bool transferred = true;
  for (const std::string storage : {"sqlite", "postgresql"}) {
    transferred = MeasureTransfers(storage, environment.Root() + storage + "-transfer", document, uploadMiB, nginxUp,
                                   nginxDown) && transferred;
  }
  if (nginx > 0) {
    kill(nginx, SIGTERM);
    waitpid(nginx, nullptr, 0);
  }
  return transferred ? 0 : 1;
}
