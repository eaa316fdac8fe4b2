#include "app/windowed.h"

#include "platform/signals.h"
#include "desktop/desktop.h"
#include "update/updatecheck.h"

#include <QApplication>
#include <QPointer>
#include <memory>
#include <thread>

namespace {

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
