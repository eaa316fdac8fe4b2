#include "cloud/printercloud.h"

#include <algorithm>
#include <chrono>

#include "cloud/relayaddress.h"
#include "base/spool.h"
#include "base/settings.h"
#include "wire/protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPause = std::chrono::seconds(60);
// A stop flag set without RequestStop is still seen within this much of the pause.
constexpr auto kPauseSlice = std::chrono::seconds(1);

std::string JoinAddresses(const std::vector<std::string>& addresses) {
  if (addresses.empty()) return kAnnouncedNoAddress;
  std::string joined;
  for (const std::string& address : addresses) {
    if (!joined.empty()) joined += kAnnouncedAddressSeparator;
    joined += address;
  }
  return joined;
}

// The queue path names the identity's first two characters as folders.
std::string QueuePath(const std::string& uuid) {
  return kRelayQueue + uuid.substr(0, 1) + "/" + uuid.substr(1, 1) + "/" + uuid;
}

}  // namespace

TPrinterCloud::TPrinterCloud(CCloudStatusSink& statusSink, const std::string& uuid, CloudEnvironment environment)
    : statusSink(statusSink), uuid(uuid), spoolFolder(GetSpoolFolder()), environment(std::move(environment)) {
  http.SetFollowRedirects(true);
}

TPrinterCloud::~TPrinterCloud() {
  RequestStop();
  WaitFor();
}

void TPrinterCloud::Resume() {
  if (!thread.joinable()) thread = std::thread(&TPrinterCloud::Execute, this);
}

void TPrinterCloud::RequestStop() {
  {
    const std::lock_guard lock(pauseMutex);
    stopRequested = true;
  }
  http.Cancel();
  pauseWake.notify_all();
}

void TPrinterCloud::WaitFor() {
  if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
}

void TPrinterCloud::Execute() {
  // Without an identity of its own the desktop would read a queue shared with others.
  if (!IsValidCloudUuid(uuid)) return;
  Announce();
  while (!stopRequested) {
    PollQueue();
    Pause();
  }
}

// Tells the relay once per run who this desktop is, where it is and what it cannot print.
void TPrinterCloud::Announce() {
  const std::string url =
      RelayUrl(kRelayAnnounce + std::string("?uuid=") + uuid + "&m=" + environment.hostName() +
               "&ips=" + JoinAddresses(environment.localIPv4Addresses()) + "&nh=" + environment.buildNotHaveList());
  if (http.Get(UrlEncode(url)).ok()) {
    statusSink.CloudState(true);
    return;
  }
  statusSink.CloudState(false);
  statusSink.CloudBusy(false);
}

void TPrinterCloud::PollQueue() {
  statusSink.CloudBusy(true);
  const HttpResult answer = http.Get(UrlEncode(RelayUrl(QueuePath(uuid))));
  if (answer.ok()) {
    statusSink.CloudState(true);
    if (!answer.text.empty()) ProcessQueue(answer.text);
  } else {
    statusSink.CloudState(false);
    statusSink.CloudBusy(false);
  }
  statusSink.CloudBusy(false);
}

void TPrinterCloud::Pause() {
  const auto end = Clock::now() + kPause;
  std::unique_lock lock(pauseMutex);
  while (!stopRequested && Clock::now() < end) {
    pauseWake.wait_until(lock, std::min(end, Clock::now() + kPauseSlice));
  }
}
