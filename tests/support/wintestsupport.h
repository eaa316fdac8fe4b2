// Helpers for the tests that run under Wine: outside commands, loopback clients, and a
// scratch folder in the user's temporary folder.
#pragma once

#include <chrono>
#include <string>

using namespace std::chrono_literals;

// Runs `command` through the command interpreter and returns its standard output.
std::string RunAndCapture(const std::string& command);

// One blocking Winsock connection to 127.0.0.1:port, closed at destruction.
class WireClient {
 public:
  explicit WireClient(int port);
  ~WireClient();
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  bool Connected() const { return connected_; }
  bool Send(const std::string& bytes) const;
  // Everything until the server closes, or what came within the limit.
  std::string ReadAll(std::chrono::milliseconds limit = 10s) const;
  // True when the server closed (or reset) the connection within the limit.
  bool ClosedWithin(std::chrono::milliseconds limit) const;
  void ShutdownSending() const;

 private:
  unsigned long long sock_;
  bool connected_ = false;
};

// Sends the request on a new connection and returns the whole answer.
std::string Exchange(int port, const std::string& request);

// A fresh folder under the user's temporary folder, removed with what it holds.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // Ends in '/'.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
