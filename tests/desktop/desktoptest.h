// Shared pieces of the desktop tests: a recording start-up, controllable sources and a
// way to let the UI thread work until something has happened.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPoint>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "desktopcore/desktopstartup.h"

// Records what the window asks of the start-up and keeps what it hands over.
class RecordingStartup : public DesktopStartup {
 public:
  void Start(std::shared_ptr<CCloudStatusSink> cloudStatus, std::function<void()> offerDownload) override;
  void Stop() override;

  int starts = 0;
  int stops = 0;
  std::shared_ptr<CCloudStatusSink> sink;
  std::function<void()> offer;
};

// Sources with fixed addresses and an auth code the test decides.
DesktopSources FixedSources(std::vector<std::string> addresses, std::string authCode = "");

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

// Counts the auth-code fetches that have ended, around another source.
class FetchCounter {
 public:
  explicit FetchCounter(std::function<std::string()> inner);
  std::function<std::string()> Source();
  int Finished() const { return finished_->load(); }

 private:
  std::function<std::string()> inner_;
  std::shared_ptr<std::atomic<int>> finished_ = std::make_shared<std::atomic<int>>(0);
};
