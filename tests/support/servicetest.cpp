#include "tests/support/servicetest.h"

#include "platform/registry.h"
#include "base/hostinfo.h"
#include "base/version.h"
#include "base/settings.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

ServiceTestEnvironment::ServiceTestEnvironment(const std::string& printQueue) {
  WriteSettingString("Magic", kCloudUuid);
  setenv("OLVARO_API_URL", ("http://127.0.0.1:" + std::to_string(FindFreePort())).c_str(), 1);
  setenv("LPDEST", printQueue.c_str(), 1);
  unsetenv("PRINTER");
  setenv("AVAHI_COMPAT_NOWARN", "1", 1);
  for (const char* proxy : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
    unsetenv(proxy);
  }
}

bool ServiceTestEnvironment::StorePort(uint32_t port) {
  const auto key = CreateProgramKey(RegistryAccess::Write);
  const unsigned char data[4] = {static_cast<unsigned char>(port), static_cast<unsigned char>(port >> 8),
                                 static_cast<unsigned char>(port >> 16), static_cast<unsigned char>(port >> 24)};
  return key && key->SetValue("Port", RegistryType::Dword, data, sizeof(data)) == RegistryStatus::Success &&
         key->Flush() == RegistryStatus::Success;
}

namespace {

// Whether a service could listen on every address at `port` now.
bool PortIsFree(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(fd, 1) == 0;
  close(fd);
  return free;
}

}  // namespace

// Outgoing connections take their local ports from the kernel's ephemeral range (from
// 32768 up), so a port found free there can be taken by one of them before the service
// binds it. Ports below that range are only ever bound on purpose; each process starts
// at a random one so that tests running side by side rarely meet.
uint16_t FindFreePort() {
  static std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> below_ephemeral(20000, 32767);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const auto port = static_cast<uint16_t>(below_ephemeral(random));
    if (PortIsFree(port)) return port;
  }
  return 0;
}

PhoneConnection::PhoneConnection(uint16_t port, const char* from) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in source{};
  source.sin_family = AF_INET;
  inet_pton(AF_INET, from, &source.sin_addr);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ >= 0 && (bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof(source)) != 0 ||
                   connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)) {
    close(fd_);
    fd_ = -1;
  }
}

PhoneConnection::~PhoneConnection() {
  if (fd_ >= 0) close(fd_);
}

bool PhoneConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

std::string PhoneConnection::ReadUntil(const std::string& marker) {
  char buffer[65536];
  while (fd_ >= 0) {
    const auto found = marker.empty() ? std::string::npos : pending_.find(marker);
    if (found != std::string::npos) {
      std::string head = pending_.substr(0, found + marker.size());
      pending_.erase(0, found + marker.size());
      return head;
    }
    // A server that neither answers nor closes within a minute has failed the test.
    pollfd watch{fd_, POLLIN, 0};
    if (poll(&watch, 1, 60000) <= 0) break;
    const ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending_.append(buffer, static_cast<size_t>(n));
  }
  std::string rest;
  rest.swap(pending_);
  return rest;
}

std::string PhoneConnection::ReadToEnd() {
  return ReadUntil("");
}

bool PhoneConnection::Closed() {
  char buffer[4096];
  while (fd_ >= 0) {
    const ssize_t n = recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (n <= 0) return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    pending_.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

std::string ExchangeWithService(uint16_t port, const std::string& request) {
  PhoneConnection connection(port);
  if (!connection.Send(request)) return "";
  return connection.ReadToEnd();
}

bool WaitForService(uint16_t port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ExchangeWithService(port, "GET /info HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 204")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string PrintRequestHead(size_t contentLength, const std::vector<std::string>& headerLines) {
  std::string head = "POST /print HTTP/1.1\r\nHost: desktop\r\n";
  for (const std::string& line : headerLines) head += line + "\r\n";
  return head + "Content-Length: " + std::to_string(contentLength) + "\r\n\r\n";
}

std::string ExpectedPrintReply(int user, int internal) {
  return "HTTP/1.1 200 OK\r\n"
         "Connection: close\r\n"
         "Content-Type: text/html\r\n"
         "X-Desktop-Os: " + GetOsVersionString() + "\r\n"
         "X-Desktop-App-Version: " + std::string(kProductVersion) + "\r\n"
         "X-Send-To-Print-Error-Number-User: " + std::to_string(user) + "\r\n"
         "X-Send-To-Print-Error-Number-Internal: " + std::to_string(internal) + "\r\n"
         "X-Cloud-UUID: " + std::string(ServiceTestEnvironment::kCloudUuid) + "\r\n\r\n";
}

std::string MakeTestPdf(const std::string& text) {
  const std::string stream = "BT /F1 24 Tf 72 700 Td (" + text + ") Tj ET";
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
      "/Resources << /Font << /F1 5 0 R >> >> >>",
      "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof(line), "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

std::vector<std::string> WaitForCapturedJobs(const std::string& queue, const std::string& title,
                                             size_t count, std::chrono::seconds timeout) {
  const std::string folder = "/var/spool/olvaro-capture/" + queue + "/";
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<std::string> jobs;
  for (;;) {
    jobs.clear();
    if (DIR* dir = opendir(folder.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!name.ends_with(".data")) continue;
        const std::string base = folder + name.substr(0, name.size() - 5);
        if (ReadTestFile(base + ".title") == title + "\n") jobs.push_back(base + ".data");
      }
      closedir(dir);
    }
    if (jobs.size() >= count || std::chrono::steady_clock::now() >= deadline) return jobs;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

std::optional<std::string> ReadProgramOutput(const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string output;
  char buffer[4096];
  ssize_t n;
  while (spawned == 0 && (n = read(pipeFds[0], buffer, sizeof(buffer))) > 0) output.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(child, &status, 0) != child) return std::nullopt;
  return output;
}

bool CaptureQueueReady() {
  const auto output = ReadProgramOutput({"lpstat", "-p", kServiceTestQueue});
  return output && output->find(kServiceTestQueue) != std::string::npos;
}

std::vector<uint16_t> BrowseServicePorts() {
  std::vector<uint16_t> ports;
  const auto output = ReadProgramOutput({"avahi-browse", "-rtp", "_vostrelprint._tcp"});
  if (!output) return ports;
  std::istringstream lines(*output);
  std::string line;
  while (std::getline(lines, line)) {
    // =;interface;protocol;name;type;domain;host;address;port;txt
    if (!line.starts_with("=;")) continue;
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, ';');) fields.push_back(field);
    if (fields.size() > 8) ports.push_back(static_cast<uint16_t>(std::atoi(fields[8].c_str())));
  }
  return ports;
}

bool WaitForAdvertisement(uint16_t port, bool seen, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    const auto ports = BrowseServicePorts();
    const bool found = std::find(ports.begin(), ports.end(), port) != ports.end();
    if (found == seen) return true;
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

bool AvahiRunning() {
  return RunTestProgram({"avahi-daemon", "--check"}) == 0;
}

bool StopAvahi() {
  RunTestProgram({"avahi-daemon", "--kill"});
  for (int i = 0; i < 100 && AvahiRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return !AvahiRunning();
}

bool StartAvahi() {
  if (!AvahiRunning()) RunTestProgram({"avahi-daemon", "--daemonize", "--no-rlimits"});
  for (int i = 0; i < 100 && !AvahiRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return AvahiRunning();
}

SilentRelay::SilentRelay() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd_, 4) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return;
  }
  setenv("OLVARO_API_URL", ("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port))).c_str(), 1);
}

SilentRelay::~SilentRelay() {
  for (int connection : connections_) close(connection);
  if (fd_ >= 0) close(fd_);
}

bool SilentRelay::AcceptOne() {
  const int connection = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0) return false;
  connections_.push_back(connection);
  return true;
}
