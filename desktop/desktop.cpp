#include "desktop/desktop.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include <cstdlib>

#include "desktop/widgetparts.h"
#include "desktopcore/popuptexts.h"

bool HasDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return true;
  }
  return false;
}

bool HasSystemTray() { return QSystemTrayIcon::isSystemTrayAvailable(); }

int RunDesktop(DesktopStartup& startup, const std::function<void(TFormMain&)>& ready) {
  QApplication::setApplicationDisplayName(QString::fromLatin1(kProductName));
  QApplication::setWindowIcon(QIcon(ArtworkPath(QStringLiteral("about.png"))));
  // Hidden windows are the normal state here; only "Exit" ends the loop.
  QApplication::setQuitOnLastWindowClosed(false);
  TFormMain form(startup, SystemDesktopSources());
  if (ready) ready(form);
  return QApplication::exec();
}
