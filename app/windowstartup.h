// The start-up steps a face's main window runs from its creation: the program's own
// sequence, with the window's status sink and update notice plugged in. UI thread only.
#pragma once

#include "app/startup.h"
#include "desktopcore/desktopstartup.h"

#include <functional>
#include <memory>

// The poller's status sink is kept for as long as the poller may call it.
class CWindowStartup : public DesktopStartup {
public:
  explicit CWindowStartup(CStartupSequence& sequence) : sequence_(sequence) {}
  void Start(std::shared_ptr<CCloudStatusSink> cloudStatus, std::function<void()> offerDownload) override;
  // Ends the sequence; the process ends at once when the poller cannot be stopped in time.
  void Stop() override;

private:
  CStartupSequence& sequence_;
  std::shared_ptr<CCloudStatusSink> cloudStatus_;
};
