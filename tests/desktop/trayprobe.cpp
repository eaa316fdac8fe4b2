// Run on a real X display with a tray host: shows the desktop's tray icon, waits until
// the host has embedded it, clicks it and checks that the pop-up window appears beside
// it. Exit status 0 when all of that happened; the reason otherwise on stderr.
#include <QApplication>
#include <QCursor>
#include <QScreen>

#include <cstdio>

#include "desktop/desktop.h"
#include "tests/desktop/desktoptest.h"

namespace {

int Fail(const char* reason) {
  std::fprintf(stderr, "trayprobe: %s\n", reason);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (!HasDisplay()) return Fail("no DISPLAY");
  if (!ProcessEventsUntil(HasSystemTray)) return Fail("no system tray on the display");

  RecordingStartup startup;
  TFormMain form(startup, FixedSources({"10.0.0.1"}, "ABC123"));
  // tray_test puts the tray host at the bottom edge; until the icon is embedded there
  // its geometry says nothing.
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  QRect icon;
  if (!ProcessEventsUntil([&] {
        icon = form.TrayIcon1->geometry();
        return !icon.isEmpty() && icon.bottom() >= screen.bottom() - 32;
      })) {
    return Fail("the tray host did not embed the icon at the bottom edge");
  }
  std::printf("tray icon at %d,%d %dx%d\n", icon.x(), icon.y(), icon.width(), icon.height());

  QCursor::setPos(icon.center());
  form.TrayIcon1MouseUp();
  if (!ProcessEventsUntil([&] { return form.isVisible() && form.LabelAuthCode->text() == "ABC123"; })) {
    return Fail("the click did not show the window with its auth code");
  }
  const QRect window = form.frameGeometry();
  std::printf("window at %d,%d %dx%d\n", window.x(), window.y(), window.width(), window.height());
  if (window.right() > screen.right()) return Fail("the window passes the screen's right end");
  if (window.bottom() >= icon.top()) return Fail("the window is not above the bottom tray");
  if (!form.arrowBottomImage->isVisible() || form.arrowTopImage->isVisible() ||
      form.arrowLeftImage->isVisible() || form.arrowRightImage->isVisible()) {
    return Fail("the bottom arrow alone should point to the tray");
  }

  form.TrayIcon1MouseUp();
  if (form.isVisible()) return Fail("a second click did not hide the window");
  return 0;
}
