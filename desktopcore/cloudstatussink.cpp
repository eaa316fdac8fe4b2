#include "desktopcore/cloudstatussink.h"

UiCloudStatusSink::UiCloudStatusSink(std::shared_ptr<UiMailbox> mailbox, CCloudStatusSink& window)
    : mailbox_(std::move(mailbox)), window_(window) {}

void UiCloudStatusSink::CloudBusy(bool busy) {
  mailbox_->Call([&window = window_, busy] { window.CloudBusy(busy); });
}

void UiCloudStatusSink::CloudState(bool connected) {
  mailbox_->Call([&window = window_, connected] { window.CloudState(connected); });
}
