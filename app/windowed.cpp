#include "app/windowed.h"

#include "base/eventlog.h"
#include "platform/signals.h"
#include "desktop/desktop.h"
#include "update/updatecheck.h"

#include <QApplication>
#include <QPointer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

// Ends the process when the cloud poller cannot be stopped in time (its request is cut
// off, but it may be handing a job to the printer): the print service has ended and
// every setting is written whole, so nothing is lost by not waiting.
void StopOrLeave(CStartupSequence& startup) {
  if (!startup.Stop(kCloudStopGrace)) std::_Exit(0);
}

// The window's start-up steps are the program's sequence; the poller's status sink is
// kept for as long as the poller may call it.
class CWindowStartup : public DesktopStartup {
public:
  explicit CWindowStartup(CStartupSequence& sequence) : sequence_(sequence) {}
  void Start(std::shared_ptr<CCloudStatusSink> cloudStatus, std::function<void()> offerDownload) override {
    cloudStatus_ = std::move(cloudStatus);
    sequence_.Run(StartupHooks{cloudStatus_.get(), [offer = std::move(offerDownload)] { StartUpdateCheck(offer); }});
  }
  void Stop() override { StopOrLeave(sequence_); }

private:
  CStartupSequence& sequence_;
  std::shared_ptr<CCloudStatusSink> cloudStatus_;
};

// The window a later start asks to show; touched on the UI thread only.
QPointer<TFormMain> shownWindow;

}  // namespace

int RunWithWindow(CSingleInstance& instance, CStartupSequence& startup) {
  // A termination signal ends the event loop as "Exit" does. The thread is never joined:
  // after "Exit" it stays in its wait until the process ends.
  std::thread([] {
    WaitForTerminationSignal();
    QMetaObject::invokeMethod(qApp, [] { QApplication::quit(); }, Qt::QueuedConnection);
  }).detach();

  CWindowStartup windowStartup(startup);
  return RunDesktop(windowStartup, [&instance](TFormMain& form) {
    shownWindow = &form;
    instance.ListenForShowRequests([] {
      QMetaObject::invokeMethod(qApp, [] { if (shownWindow) shownWindow->BringToFront(); }, Qt::QueuedConnection);
    });
  });
}

int RunWithoutWindow(CSingleInstance& instance, CStartupSequence& startup) {
  // Without a desktop nobody sees notifications: what happens goes to the standard error
  // stream too, where a service manager's journal keeps it.
  SetEventLogEcho(true);
  instance.ListenForShowRequests([] {
    std::fprintf(stderr, "olvaro-desktop: already running, without a window to show\n");
  });
  startup.Run(StartupHooks{nullptr, [] { StartUpdateCheck(ReportNewVersionOnStderr); }});
  WaitForTerminationSignal();
  StopOrLeave(startup);
  return 0;
}
