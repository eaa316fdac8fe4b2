// A running engine on an ephemeral loopback port, raw-socket clients and a recording handler.
#pragma once

#include "httpengine/engine-private.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// A socket that closes itself.
class ClientSocket {
 public:
  explicit ClientSocket(int fd = -1) : fd_(fd) {}
  ClientSocket(ClientSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ClientSocket& operator=(ClientSocket&& other) noexcept;
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;
  ~ClientSocket();
  int fd() const { return fd_; }
  bool Send(std::string_view bytes) const;
  // Everything until the server closes, or what came within the limit.
  std::string ReadAll(std::chrono::milliseconds limit = 10s) const;
  // Reads exactly count bytes (fewer if the server closes first or the limit passes).
  std::string Read(size_t count, std::chrono::milliseconds limit = 10s) const;
  // True when the server closed (or reset) the connection within the limit.
  bool ClosedWithin(std::chrono::milliseconds limit) const;

 private:
  int fd_;
};

// Connects from source (a loopback address) to 127.0.0.1:port.
ClientSocket ConnectTo(int port, const char* source = "127.0.0.1");

// Runs a command and returns its standard output.
std::string RunCommand(const std::string& command);

// Records the handler calls of "/print"-like entries, and lets a test hold them.
// Reply of the recording end handler.
constexpr std::string_view kHandlerReply = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";

struct Recorder {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> calls;  // "begin", "data:<length>", "end"
  std::string body;
  std::string query;
  std::vector<std::pair<std::string, std::string>> headers;
  int begin_result = 1;
  int refuse_data_call = -1;  // the data call (counted from 0) that answers 0
  bool answer_refusal = false;  // the refusing data call sends kRefusalReply first
  bool hold = false;          // end handlers wait while this is true
  bool reply_before_hold = false;  // end handlers reply before they wait
  int ends_running = 0;
  std::string_view reply = kHandlerReply;  // what the end handler sends

  void Add(const std::string& call);
  void Release();
  bool WaitForCalls(size_t count, std::chrono::milliseconds limit = 10s);
  std::vector<std::string> Calls();
};

// Reply of a data handler that refuses the body itself.
constexpr std::string_view kRefusalReply = "HTTP/1.1 200 OK\r\nX-Refused: yes\r\n\r\n";

int RecordBegin(mg_conn*, const mg_request*, void* recorder);
int RecordData(mg_conn*, const mg_request*, const char* bytes, int length, void* recorder);
void RecordEnd(mg_conn*, const mg_request*, void* recorder);
void RecordAbort(mg_conn*, const mg_request*, void* recorder);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Sends the request and returns everything the server sent before closing.
  std::string Exchange(std::string_view request, const char* source = "127.0.0.1");
  std::string ErrorLog() const;
  // Waits until the error log holds text.
  bool WaitForLog(const std::string& text, std::chrono::milliseconds limit = 10s) const;
  int Port(size_t listener = 0);
  int WorkerCount();

  std::filesystem::path temp_;
  mg_ctx* ctx_ = nullptr;
  int port_ = 0;
  Recorder recorder_;
};

// The error log's lines without their "[%010lu] " time stamps; a line without a valid
// stamp stays whole.
std::vector<std::string> LogLines(const std::string& log);
// True when "[error] [client <client>] <rest>" is one of the log's lines.
bool HasLogLine(const std::string& log, const std::string& client, const std::string& rest);
