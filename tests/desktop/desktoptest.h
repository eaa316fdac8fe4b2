// Shared pieces of the Qt face's tests: a way to let the UI thread work until something
// has happened, mouse events, and the addresses handed to the browser. The recording
// start-up, the fixed sources and the test clock are the pop-up controller's tests'.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPoint>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/desktopcore/recordingview.h"

// Processes UI events until `done` holds; false when it did not within 20 seconds.
bool ProcessEventsUntil(const std::function<bool()>& done);

class QWidget;

// Sends `widget` a left-button press or release, or a move, at `at` (widget coordinates),
// with `held` the buttons down afterwards.
void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons held);
// A left click: press and release.
void Click(QWidget* widget, QPoint at = QPoint(3, 3));

// Catches the addresses the program hands to the browser, for one scheme.
class OpenedUrls : public QObject {
  Q_OBJECT

 public:
  explicit OpenedUrls(const QString& scheme);
  ~OpenedUrls() override;
  std::vector<QUrl> urls;

 public slots:
  void Open(const QUrl& url);

 private:
  QString scheme_;
};
