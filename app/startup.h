// The start-up sequence that wires the services of one run together, and their end.
// A CStartupSequence belongs to the program's main thread (the UI thread when there is
// a window): Run, Stop and destruction are called there.
#pragma once

#include "app/cloudstart.h"
#include "cloud/printercloud.h"
#include "printservice/vostrelhttpserver.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// What a user interface plugs into the sequence; both may stay empty.
struct StartupHooks {
  // Receives the cloud poller's reports on the poller's thread; must outlive the
  // sequence. Without one the reports are dropped.
  CCloudStatusSink* cloudStatusSink = nullptr;
  // Starts the update check; called at most once per run, only when it is due.
  std::function<void()> startUpdateCheck;
};

// True when the last update check (a local-time FILETIME, 0 for never) is at least a
// day before `now`. A last check in the future waits for a day after it.
bool IsUpdateCheckDue(uint64_t lastCheckTime, uint64_t now);

class CStartupSequence {
public:
  CStartupSequence() = default;
  // Ends the print service and waits for the cloud poller, however long that takes.
  ~CStartupSequence() = default;
  CStartupSequence(const CStartupSequence&) = delete;
  CStartupSequence& operator=(const CStartupSequence&) = delete;

  // Reads the settings, starts the print service on the configured port, starts the
  // update check when it is due and the cloud poller once there is an identity. Once.
  void Run(const StartupHooks& hooks);

  // Ends the print service (waiting for its requests) and the cloud poller (cutting off
  // its request), waiting up to `cloudGrace` for it. False when the poller is still busy:
  // the process must then end without destroying the hooks' status sink.
  bool Stop(std::chrono::milliseconds cloudGrace);

  // The port the print service was started on; 0 before Run.
  uint32_t ServicePort() const { return servicePort; }

private:
  uint32_t servicePort = 0;
  std::unique_ptr<CVostrelHttpServer> printServer;
  CCloudPollerStart cloudPoller;
};
