// Carries the cloud poller's reports onto the UI thread and waits for them there, as
// long as the main window lives; later reports are dropped. Called on the poller's
// thread; never blocks the UI thread.
#pragma once

#include <memory>

#include "cloud/printercloud.h"
#include "desktopcore/uimailbox.h"

class UiCloudStatusSink final : public CCloudStatusSink {
 public:
  // `window` is only called on the UI thread and only while `mailbox` is open.
  UiCloudStatusSink(std::shared_ptr<UiMailbox> mailbox, CCloudStatusSink& window);

  void CloudBusy(bool busy) override;
  void CloudState(bool connected) override;

 private:
  std::shared_ptr<UiMailbox> mailbox_;
  CCloudStatusSink& window_;
};
