#include "app/cloudstart.h"

#include "cloud/cloudmanager.h"

#include <condition_variable>
#include <exception>
#include <mutex>

// Shared by the owner and the thread, which may outlive the owner when it is given up.
struct CCloudPollerStart::Run {
  std::mutex mutex;
  std::condition_variable stopWake;
  bool stopping = false;
  std::unique_ptr<TPrinterCloud> poller;
  std::promise<void> ended;
  CCloudUuidRequest identity;

  void Execute(CCloudStatusSink& statusSink);
};

// Starts the poller once there is an identity, then stays until the owner stops it, so
// that the poller is awaited and destroyed on this thread and never on the owner's.
void CCloudPollerStart::Run::Execute(CCloudStatusSink& statusSink) {
  const std::string uuid = identity.Obtain();
  std::unique_lock<std::mutex> lock(mutex);
  if (!stopping && !uuid.empty()) {
    try {
      poller = std::make_unique<TPrinterCloud>(statusSink, uuid);
      poller->Resume();
    } catch (const std::exception&) {
      // Local printing works without the relay.
      poller.reset();
    }
  }
  stopWake.wait(lock, [this] { return stopping; });
  const std::unique_ptr<TPrinterCloud> ending = std::move(poller);
  lock.unlock();
  if (ending) {
    ending->RequestStop();
    ending->WaitFor();
  }
  ended.set_value();
}

CCloudPollerStart::~CCloudPollerStart() {
  if (thread.joinable()) {
    RequestStop();
    thread.join();
  }
}

void CCloudPollerStart::Start(CCloudStatusSink& statusSink) {
  if (run) {
    return;
  }
  auto starting = std::make_shared<Run>();
  std::future<void> startingEnded = starting->ended.get_future();
  try {
    thread = std::thread([starting, &statusSink] { starting->Execute(statusSink); });
  } catch (const std::exception&) {
    return;
  }
  ended = std::move(startingEnded);
  run = std::move(starting);
}

void CCloudPollerStart::RequestStop() {
  {
    std::lock_guard<std::mutex> lock(run->mutex);
    run->stopping = true;
    if (run->poller) {
      run->poller->RequestStop();
    }
  }
  run->identity.Stop();
  run->stopWake.notify_all();
}

bool CCloudPollerStart::Stop(std::chrono::milliseconds grace) {
  if (!thread.joinable()) {
    return !run || ended.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  RequestStop();
  if (ended.wait_for(grace) == std::future_status::ready) {
    thread.join();
    return true;
  }
  thread.detach();
  return false;
}
