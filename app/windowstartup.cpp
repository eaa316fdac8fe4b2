#include "app/windowstartup.h"

#include "app/service.h"
#include "update/updatecheck.h"

void CWindowStartup::Start(std::shared_ptr<CCloudStatusSink> cloudStatus, std::function<void()> offerDownload) {
  cloudStatus_ = std::move(cloudStatus);
  sequence_.Run(StartupHooks{cloudStatus_.get(), [offer = std::move(offerDownload)] { StartUpdateCheck(offer); }});
}

void CWindowStartup::Stop() { StopOrLeave(sequence_); }
