#include "tests/httpengine/engine_fixture.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

ClientSocket& ClientSocket::operator=(ClientSocket&& other) noexcept {
  std::swap(fd_, other.fd_);
  return *this;
}

ClientSocket::~ClientSocket() {
  if (fd_ >= 0) close(fd_);
}

bool ClientSocket::Send(std::string_view bytes) const {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::string ClientSocket::Read(size_t count, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string received;
  char buffer[65536];
  while (received.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t got = recv(fd_, buffer, std::min(sizeof buffer, count - received.size()), 0);
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

std::string ClientSocket::ReadAll(std::chrono::milliseconds limit) const { return Read(SIZE_MAX, limit); }

bool ClientSocket::ClosedWithin(std::chrono::milliseconds limit) const {
  pollfd entry{fd_, POLLIN, 0};
  if (poll(&entry, 1, static_cast<int>(limit.count())) <= 0) return false;
  char byte;
  return recv(fd_, &byte, 1, MSG_PEEK) <= 0;
}

ClientSocket ConnectTo(int port, const char* source) {
  ClientSocket client(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source, &local.sin_addr);
  EXPECT_EQ(bind(client.fd(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(client.fd(), reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
  return client;
}

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
  pclose(pipe);
  return output;
}

void Recorder::Add(const std::string& call) {
  std::lock_guard guard(lock);
  calls.push_back(call);
  changed.notify_all();
}

void Recorder::Release() {
  std::lock_guard guard(lock);
  hold = false;
  changed.notify_all();
}

bool Recorder::WaitForCalls(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock guard(lock);
  return changed.wait_for(guard, limit, [&] { return calls.size() >= count; });
}

std::vector<std::string> Recorder::Calls() {
  std::lock_guard guard(lock);
  return calls;
}

int RecordBegin(mg_conn*, const mg_request* request, void* user) {
  auto* recorder = static_cast<Recorder*>(user);
  {
    std::lock_guard guard(recorder->lock);
    recorder->query = request->query_string != nullptr ? request->query_string : "<none>";
    recorder->headers.clear();
    for (int i = 0; i < request->num_headers; ++i) {
      recorder->headers.emplace_back(request->http_headers[i].name, request->http_headers[i].value);
    }
  }
  recorder->Add("begin");
  return recorder->begin_result;
}

int RecordData(mg_conn* conn, const mg_request*, const char* bytes, int length, void* user) {
  auto* recorder = static_cast<Recorder*>(user);
  int call;
  {
    std::lock_guard guard(recorder->lock);
    recorder->body.append(bytes, static_cast<size_t>(length));
    call = static_cast<int>(std::count_if(recorder->calls.begin(), recorder->calls.end(),
                                          [](const std::string& c) { return c.starts_with("data"); }));
  }
  recorder->Add("data:" + std::to_string(length));
  if (call != recorder->refuse_data_call) return 1;
  if (recorder->answer_refusal) mg_send(conn, kRefusalReply.data(), static_cast<int>(kRefusalReply.size()));
  return 0;
}

void RecordEnd(mg_conn* conn, const mg_request* request, void* user) {
  auto* recorder = static_cast<Recorder*>(user);
  // Line by line, as the print service writes its replies.
  const std::string_view reply = recorder->reply;
  for (size_t line = 0; recorder->reply_before_hold && line < reply.size();) {
    const size_t end = std::min(reply.find('\n', line), reply.size() - 1) + 1;
    mg_send(conn, reply.data() + line, static_cast<int>(end - line));
    line = end;
  }
  {
    std::unique_lock guard(recorder->lock);
    recorder->query = request->query_string != nullptr ? request->query_string : "<none>";
    ++recorder->ends_running;
    recorder->changed.notify_all();
    recorder->changed.wait(guard, [recorder] { return !recorder->hold; });
    --recorder->ends_running;
  }
  recorder->Add(std::string("end:") + request->method + " " + request->uri);
  if (!recorder->reply_before_hold) mg_send_formatted(conn, "%s", std::string(reply).c_str());
}

void RecordAbort(mg_conn*, const mg_request*, void* recorder) { static_cast<Recorder*>(recorder)->Add("abort"); }

void EngineTest::SetUp() {
  char pattern[] = "/tmp/olvaro-engine-test.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  temp_ = pattern;
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "TMPDIR", "XDG_RUNTIME_DIR"}) {
    const std::filesystem::path folder = temp_ / name;
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    setenv(name, folder.c_str(), 1);
  }
  ctx_ = mg_start();
  ASSERT_NE(ctx_, nullptr);
  ASSERT_EQ(mg_set_option(ctx_, "error_log", (temp_ / "error.log").c_str()), 1);
  ASSERT_EQ(mg_set_option(ctx_, "idle_time", "0"), 1);
  // As the print service sets it up.
  ASSERT_EQ(mg_set_option(ctx_, "dir_list", "no"), 1);
  ASSERT_EQ(mg_set_option(ctx_, "ports", "127.0.0.1:0"), 1);
  port_ = Port();
  mg_set_uri_handlers(ctx_, "/print", RecordBegin, RecordData, RecordEnd, &recorder_);
  mg_set_uri_handlers(ctx_, "/info", nullptr, nullptr, RecordEnd, &recorder_);
  ASSERT_EQ(mg_set_abort_handler(ctx_, "/print", RecordAbort, &recorder_), 1);
}

void EngineTest::TearDown() {
  recorder_.Release();
  if (ctx_ != nullptr) mg_stop(ctx_);
  std::error_code error;
  std::filesystem::remove_all(temp_, error);
}

std::string EngineTest::Exchange(std::string_view request, const char* source) {
  ClientSocket client = ConnectTo(port_, source);
  client.Send(request);
  return client.ReadAll();
}

std::string EngineTest::ErrorLog() const {
  std::ifstream file(temp_ / "error.log");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool EngineTest::WaitForLog(const std::string& text, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (ErrorLog().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

int EngineTest::Port(size_t listener) {
  std::lock_guard lock(ctx_->option_locks[kOptionPorts]);
  return listener < ctx_->listeners.size() ? ctx_->listeners[listener].local.port : 0;
}

int EngineTest::WorkerCount() {
  std::lock_guard lock(ctx_->thread_lock);
  return ctx_->num_threads;
}

std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  std::istringstream stream(log);
  std::string line;
  while (std::getline(stream, line)) {
    const bool stamped = line.size() > 13 && line[0] == '[' && line[11] == ']' && line[12] == ' ' &&
                         std::all_of(line.begin() + 1, line.begin() + 11, [](char c) { return c >= '0' && c <= '9'; });
    lines.push_back(stamped ? line.substr(13) : line);
  }
  return lines;
}

bool HasLogLine(const std::string& log, const std::string& client, const std::string& rest) {
  const std::vector<std::string> lines = LogLines(log);
  return std::find(lines.begin(), lines.end(), "[error] [client " + client + "] " + rest) != lines.end();
}
