#include "shell/ui/cloudstatussink.h"

#include "shell/ui/formmain.h"

UiCloudStatusSink::UiCloudStatusSink(std::shared_ptr<UiMailbox> mailbox, TFormMain* form)
    : mailbox_(std::move(mailbox)), form_(form) {}

void UiCloudStatusSink::CloudBusy(bool busy) {
  mailbox_->Call([form = form_, busy] { form->CloudBusy(busy); });
}

void UiCloudStatusSink::CloudState(bool connected) {
  mailbox_->Call([form = form_, connected] { form->CloudState(connected); });
}
