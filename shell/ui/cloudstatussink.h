// Carries the cloud poller's reports onto the UI thread and waits for them there, as
// long as the main window lives; later reports are dropped. Called on the poller's
// thread; never blocks the UI thread.
#pragma once

#include <memory>

#include "cloud/printercloud.h"
#include "shell/ui/uimailbox.h"

class TFormMain;

class UiCloudStatusSink final : public CCloudStatusSink {
 public:
  // `form` is only touched on the UI thread and only while `mailbox` is open.
  UiCloudStatusSink(std::shared_ptr<UiMailbox> mailbox, TFormMain* form);

  void CloudBusy(bool busy) override;
  void CloudState(bool connected) override;

 private:
  std::shared_ptr<UiMailbox> mailbox_;
  TFormMain* form_;
};
