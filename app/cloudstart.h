// The cloud poller of one run: the identity is obtained and the poller started on a
// thread of this object, so that a slow API server holds up nothing else.
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

  // Obtains the identity and, when there is one, starts the poller reporting to
  // `statusSink`. Once.
  void Start(CCloudStatusSink& statusSink);

  // Asks the poller to end and waits up to `grace`. True when everything ended (or never
  // ran). False when the identity request or a poller request is still under way; they
  // have no time limit and are left to end with the process, which must then end
  // without destroying the status sink.
  bool Stop(std::chrono::milliseconds grace);

private:
  void RequestStop();

  struct Run;
  std::shared_ptr<Run> run;
  std::future<void> ended;
  std::thread thread;
};
