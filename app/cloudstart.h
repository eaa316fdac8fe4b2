// The cloud poller of one run: the identity is obtained (in the background, retried
// until the API server issues one) and the poller started on a thread of this object,
// so that a slow or silent API server holds up nothing else.
// Start, Stop and destruction belong to the thread that owns the object; the status
// sink is called on the poller's thread.
#pragma once

#include "cloud/printercloud.h"

#include <chrono>
#include <future>
#include <memory>
#include <thread>

class CCloudPollerStart {
public:
  CCloudPollerStart() = default;
  // Asks the poller to end and waits for it, however long that takes.
  ~CCloudPollerStart();
  CCloudPollerStart(const CCloudPollerStart&) = delete;
  CCloudPollerStart& operator=(const CCloudPollerStart&) = delete;

  // Obtains the identity and, once there is a valid one, starts the poller reporting to
  // `statusSink`. Once.
  void Start(CCloudStatusSink& statusSink);

  // Cuts off the identity request or the poller's request under way and waits up to
  // `grace` for the thread. True when everything ended (or never ran). False when the
  // poller is still busy, printing a job say; it is left to end with the process, which
  // must then end without destroying the status sink.
  bool Stop(std::chrono::milliseconds grace);

private:
  void RequestStop();

  struct Run;
  std::shared_ptr<Run> run;
  std::future<void> ended;
  std::thread thread;
};
