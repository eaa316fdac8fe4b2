#include "tests/relay/relayprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>

#include "cloud/printercloud.h"
#include "platform/httpclient.h"
#include "platform/httptext.h"
#include "relay/sqldatabase.h"
#include "tests/support/httpsrelay.h"
#include "tests/support/servicetest.h"
#include "tests/support/testenv.h"

extern char** environ;

namespace {

// Reads the "listening on port N" line the relay prints once it serves.
int ReadPort(int fd) {
  std::string line;
  for (int waited = 0; waited < 200 && line.find('\n') == std::string::npos; ++waited) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<size_t>(got));
  }
  const auto at = line.find("port ");
  return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 5);
}

std::atomic<int> uploads{0};

// The hexadecimal digits that follow `marker` in `text`.
std::string HexAfter(const std::string& text, const std::string& marker) {
  const auto at = text.find(marker);
  if (at == std::string::npos) return "";
  const auto start = at + marker.size();
  return text.substr(start, text.find_first_not_of("0123456789abcdef", start) - start);
}

int RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

}  // namespace

RelayProcess::RelayProcess(const std::string& dataFolder, const std::vector<std::string>& options, bool tls)
    : tls_(tls), logFile_(dataFolder + ".log") {
  std::vector<std::string> arguments = {OLVARO_RELAY, "--listen", "127.0.0.1:0", "--data", dataFolder, "--threads", "4"};
  if (tls) {
    const auto& authority = TestCertificateAuthority::Get();
    arguments.insert(arguments.end(), {"--cert", authority.certFile, "--key", authority.keyFile});
    setenv("CURL_CA_BUNDLE", authority.caFile.c_str(), 1);
  }
  arguments.insert(arguments.end(), options.begin(), options.end());
  int output[2];
  if (pipe(output) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, output[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, OLVARO_RELAY, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  if (pid_ > 0) port_ = ReadPort(output[0]);
  close(output[0]);
}

RelayProcess::~RelayProcess() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

void RelayProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string RelayProcess::BaseUrl() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::string RelayProcess::Log() const { return ReadTestFile(logFile_).value_or(""); }

PostgresServer& PostgresServer::Get() {
  static PostgresServer server;
  return server;
}

PostgresServer::PostgresServer() {
  // Not under a test's private TMPDIR: the postgres user must reach it.
  std::string pattern = "/tmp/olvaro-postgres.XXXXXX";
  if (!mkdtemp(pattern.data())) {
    error_ = "mkdtemp failed";
    return;
  }
  folder_ = pattern;
  // PostgreSQL refuses to run as root: the cluster belongs to the postgres user then.
  const std::string as = geteuid() == 0 ? "runuser -u postgres -- " : "";
  if (geteuid() == 0) RunQuietly("chown postgres: " + folder_);
  const std::string bin = "$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)/";
  const int port = FindFreePort();
  if (RunQuietly(as + bin + "initdb -D " + folder_ + "/db -A trust -U postgres -E UTF8 --no-sync") != 0) {
    error_ = "initdb failed (is the postgresql package installed?)";
    return;
  }
  settings_ = "-p " + std::to_string(port) + " -k " + folder_ +
              " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=200";
  if (!Start()) {
    error_ = "pg_ctl start failed: " + ReadTestFile(folder_ + "/log").value_or("");
    return;
  }
  url_ = "postgresql://postgres@127.0.0.1:" + std::to_string(port) + "/";
}

PostgresServer::~PostgresServer() {
  if (folder_.empty()) return;
  Control("-m immediate stop");
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

int PostgresServer::Control(const std::string& arguments) const {
  const std::string as = geteuid() == 0 ? "runuser -u postgres -- " : "";
  return RunQuietly(as + "$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)/pg_ctl -D " + folder_ + "/db " + arguments);
}

bool PostgresServer::Stop() { return Control("-m fast -w stop") == 0; }

bool PostgresServer::Start() { return Control("-l " + folder_ + "/log -w -o '" + settings_ + "' start") == 0; }

std::string PostgresServer::NewDatabase() {
  if (url_.empty()) return "";
  auto server = OpenSqlConnection(url_ + "postgres", error_);
  const std::string name = "relay" + std::to_string(++databases_);
  if (!server || !server->Execute("CREATE DATABASE " + name).ok) return "";
  return url_ + name;
}

namespace {

Exchange Exchanged(const std::function<HttpResult(CHttpClient&)>& request, const std::vector<std::string>& headers) {
  CHttpClient http;
  http.SetHeaders(headers);
  http.SetKeepErrorAnswers(true);
  const HttpResult result = request(http);
  Exchange exchange;
  exchange.connected = result.ok() || result.failure == HttpFailure::Status;
  exchange.error = result.error;
  exchange.status = result.status;
  exchange.body = result.text;
  for (const auto& [name, value] : result.headers) {
    std::string& stored = exchange.headers[name];
    stored += (stored.empty() ? "" : "\n") + value;
  }
  return exchange;
}

}  // namespace

Exchange HttpGet(const std::string& url, const std::vector<std::string>& headers) {
  return Exchanged([&](CHttpClient& http) { return http.Get(url); }, headers);
}

Exchange HttpPostForm(const std::string& url, const std::string& form, const std::vector<std::string>& headers) {
  return Exchanged([&](CHttpClient& http) { return http.Post(url, SplitText(form, '&')); }, headers);
}

Exchange HttpPostFile(const std::string& url, const std::string& path, const std::vector<std::string>& headers) {
  return Exchanged([&](CHttpClient& http) { return http.PostFile(url, path); }, headers);
}

std::string QueryEscape(const std::string& text) { return FormBody({"=" + text}).substr(1); }

std::string DesktopClient::AuthCode() const { return HttpPostForm(relay.Api("generate-magic.php"), "uuid=" + uuid).body; }

Exchange DesktopClient::Announce(const std::string& host, const std::string& notHave) const {
  return HttpGet(relay.Api("desktop.php?uuid=" + uuid + "&m=" + host + "&ips=192.168.1.5%252C10.0.0.2&nh=" + notHave));
}

std::string DesktopClient::Queue() const {
  const Exchange answer = HttpGet(relay.Api("q/" + uuid.substr(0, 1) + "/" + uuid.substr(1, 1) + "/" + uuid));
  return answer.status == 200 ? answer.body : "";
}

Exchange DesktopClient::Download(const std::string& id) const { return HttpGet(relay.Api("upload/" + id)); }

Exchange DesktopClient::Acknowledge(const std::string& id) const {
  return HttpPostForm(relay.Api("mark.php"), "uuid=" + uuid + "&file=" + id);
}

long SenderClient::Pair(const std::string& code) {
  const Exchange answer = HttpPostForm(relay.BaseUrl() + "/pair", "code=" + code);
  const std::string cookies = answer.headers.count("set-cookie") ? answer.headers.at("set-cookie") : "";
  if (answer.status == 200) token = HexAfter(cookies, "olvaro_pairing=");
  csrf = HexAfter(Status().body, "\"csrf\":\"");
  return answer.status;
}

Exchange SenderClient::Status() const { return HttpGet(relay.BaseUrl() + "/status", {"Cookie: olvaro_pairing=" + token}); }

long SenderClient::Upload(const std::string& name, const std::string& content, int copies) const {
  const std::string path = std::filesystem::temp_directory_path().string() + "/upload-" + std::to_string(getpid()) +
                           "-" + std::to_string(++uploads);
  std::ofstream(path, std::ios::binary) << content;
  const Exchange answer = HttpPostFile(relay.BaseUrl() + "/upload?name=" + QueryEscape(name) + "&copies=" +
                                           std::to_string(copies),
                                       path, {"Cookie: olvaro_pairing=" + token, "X-CSRF-Token: " + csrf});
  std::filesystem::remove(path);
  return answer.status;
}

std::string WritePatternFile(const std::string& folder, const std::string& name, size_t size, int seed) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 31 + static_cast<size_t>(seed) * 7) % 251);
  std::ofstream(folder + name, std::ios::binary) << content;
  return content;
}
