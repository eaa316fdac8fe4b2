#include "app/windowed.h"

#include "platform/signals.h"
#include "desktop/desktop.h"
#include "app/windowstartup.h"

#include <QApplication>
#include <QPointer>
#include <memory>
#include <thread>

namespace {

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
