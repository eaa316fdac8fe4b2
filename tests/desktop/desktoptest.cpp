#include "tests/desktop/desktoptest.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QWidget>

#include <chrono>

bool ProcessEventsUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

OpenedUrls::OpenedUrls(const QString& scheme) : scheme_(scheme) {
  QDesktopServices::setUrlHandler(scheme_, this, "Open");
}

OpenedUrls::~OpenedUrls() { QDesktopServices::unsetUrlHandler(scheme_); }

void OpenedUrls::Open(const QUrl& url) { urls.push_back(url); }

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

void Click(QWidget* widget, QPoint at) {
  SendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
  SendMouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
}
