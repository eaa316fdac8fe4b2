// What the print service and program tests share: talking to the service as a phone
// does, reading back what a capturing queue printed, watching the network with
// avahi-browse, and the per-user surroundings of a service under test.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/testenv.h"

// The capturing queue the service tests print to.
inline const std::string kServiceTestQueue = "OlvaroTestA";

// Fresh per-user folders (see TestEnvironment) plus: a stored cloud identity, so
// that no reply waits for the relay; a relay address nobody answers on; jobs sent to
// `printQueue` (a queue that does not exist makes every print fail at once); and no
// proxy between the tests and loopback.
class ServiceTestEnvironment : public TestEnvironment {
public:
  explicit ServiceTestEnvironment(const std::string& printQueue = "OlvaroNoSuchQueue");

  // The cloud identity every reply carries.
  static constexpr char kCloudUuid[] = "0f3c1c2e-7b55-4e0c-9d55-3c4ab1a2c0de";

  // The spool folder the service writes to, ending in '/'.
  std::string SpoolFolder() const { return Root() + "tmp/OlvaroDesktop/"; }
  // Stores "Port" as the program reads it.
  static bool StorePort(uint32_t port);
};

// A port nobody listened on a moment ago, outside the range outgoing connections use.
uint16_t FindFreePort();

// A client connection to the service on 127.0.0.1, from `from` (any loopback address).
class PhoneConnection {
public:
  explicit PhoneConnection(uint16_t port, const char* from = "127.0.0.1");
  ~PhoneConnection();
  PhoneConnection(const PhoneConnection&) = delete;
  PhoneConnection& operator=(const PhoneConnection&) = delete;

  bool IsConnected() const { return fd_ >= 0; }
  bool Send(const std::string& bytes);
  // Reads until `marker` has arrived (included) or the server closes; what arrived.
  std::string ReadUntil(const std::string& marker);
  // Reads until the server closes the connection.
  std::string ReadToEnd();
  // Whether the server has closed the connection, without waiting.
  bool Closed();

private:
  int fd_ = -1;
  std::string pending_;
};

// A relay on loopback that accepts connections and never answers, set as the API
// server (OLVARO_API_URL) for as long as it lives.
class SilentRelay {
public:
  SilentRelay();
  ~SilentRelay();
  SilentRelay(const SilentRelay&) = delete;
  SilentRelay& operator=(const SilentRelay&) = delete;

  bool Listening() const { return fd_ >= 0; }
  // Waits for the next connection and keeps it open, unanswered; false on failure.
  bool AcceptOne();

private:
  int fd_ = -1;
  std::vector<int> connections_;
};

// Sends `request` on a new connection and returns everything until the server closes.
std::string ExchangeWithService(uint16_t port, const std::string& request);

// Waits until the service answers "/info" on `port`; false when it does not in time.
bool WaitForService(uint16_t port, std::chrono::milliseconds timeout);

// The head of a "/print" POST, with the optional headers given as full lines.
std::string PrintRequestHead(size_t contentLength, const std::vector<std::string>& headerLines);

// The reply head the service sends for "/print" with these error numbers.
std::string ExpectedPrintReply(int user, int internal);

// A small valid one-page PDF whose page shows `text`.
std::string MakeTestPdf(const std::string& text);

// Data files of the jobs titled `title` that `queue` captured, waiting until there are
// `count` of them or the time is up.
std::vector<std::string> WaitForCapturedJobs(const std::string& queue, const std::string& title,
                                             size_t count, std::chrono::seconds timeout);

// Runs a program found on PATH; its standard output, or nullopt when it could not run.
std::optional<std::string> ReadProgramOutput(const std::vector<std::string>& arguments);

// True when cupsd runs and the capturing queue exists.
bool CaptureQueueReady();

// The ports of "_vostrelprint._tcp" services that avahi-browse resolves right now.
std::vector<uint16_t> BrowseServicePorts();
// Waits until a service on `port` is seen (or, with `seen` false, no longer seen).
bool WaitForAdvertisement(uint16_t port, bool seen, std::chrono::seconds timeout);

// avahi-daemon: whether it answers, and stopping and starting it.
bool AvahiRunning();
bool StopAvahi();
bool StartAvahi();
