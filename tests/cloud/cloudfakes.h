// What the cloud poller tests put in place of the main window and the print engine.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cloud/printercloud.h"

// Records the poller's reports as "busy1", "state0", ... in the order they came.
class RecordingSink : public CCloudStatusSink {
public:
  void CloudBusy(bool busy) override { Record(busy ? "busy1" : "busy0"); }
  void CloudState(bool connected) override { Record(connected ? "state1" : "state0"); }
  std::vector<std::string> Events() const {
    const std::lock_guard lock(mutex_);
    return events_;
  }

private:
  void Record(const std::string& event) {
    const std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// A print engine and host that remember what they were asked.
struct FakeDesktop {
  std::vector<std::string> addresses = {"192.168.1.5", "10.0.0.2"};
  std::string hostName = "desk-1";
  std::string notHave = "iWork,Office,PDF";
  std::vector<std::string> printed;
  std::mutex mutex;

  CloudEnvironment Environment() {
    return {[this](const std::string& path) {
              const std::lock_guard lock(mutex);
              printed.push_back(path);
              return PrintOutcome{true, "FakePrinter", ""};
            },
            [this] { return notHave; }, [this] { return addresses; }, [this] { return hostName; }};
  }
  std::vector<std::string> Printed() {
    const std::lock_guard lock(mutex);
    return printed;
  }
};

// Waits up to ten seconds for `condition`.
inline bool Eventually(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
