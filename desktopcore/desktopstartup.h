// The start-up steps the pop-up window runs from its creation handler, supplied by the
// program (which runs the same steps itself when there is no desktop), and the few
// outside readings the window takes that tests replace. UI thread only, except where
// a comment says otherwise.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cloud/printercloud.h"

class DesktopStartup {
 public:
  virtual ~DesktopStartup() = default;
  // Reads the settings and starts the print service on the configured port, the update
  // check when one is due and the cloud poller when there is an identity. The poller
  // reports to `cloudStatus`, which the program keeps for as long as the poller may
  // call it; `offerDownload` is called on the checking thread when a newer version
  // exists.
  virtual void Start(std::shared_ptr<CCloudStatusSink> cloudStatus, std::function<void()> offerDownload) = 0;
  // Ends what Start started; called when the window is destroyed.
  virtual void Stop() = 0;
};

struct DesktopSources {
  // The PC's IPv4 addresses.
  std::function<std::vector<std::string>()> localAddresses;
  // The current auth code, "" when there is none; runs on a worker thread and may
  // block for as long as the relay takes.
  std::function<std::string()> authCode;
};

// The program's real sources: the host's addresses and the relay's auth code.
DesktopSources SystemDesktopSources();
