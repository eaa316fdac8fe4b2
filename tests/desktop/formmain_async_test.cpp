// The window's road from other threads to its UI thread: the poller's reports, the end
// of the program while they come, and the update notice.
#include "desktop/formmain.h"

#include <QApplication>
#include <QTimer>

#include <thread>

#include <gtest/gtest.h>

#include "tests/desktop/desktoptest.h"
#include "update/updatecheck.h"

namespace {

class FormMainAsyncTest : public testing::Test {
 protected:
  RecordingStartup startup;
};

TEST_F(FormMainAsyncTest, PollerReportsArriveOnTheUiThreadSynchronously) {
  TFormMain form(startup, FixedSources({}));
  ASSERT_TRUE(startup.sink);
  std::atomic<int> step{0};
  std::thread poller([&] {
    startup.sink->CloudBusy(true);
    startup.sink->CloudState(true);
    step = 1;
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return step == 1; }));
  // Both reports had been handled when the calls returned.
  EXPECT_TRUE(form.Controller().PollerBusy());
  EXPECT_EQ(form.LabelConnected->text(), "Connected");
  poller.join();

  std::thread poller2([&] {
    startup.sink->CloudState(false);
    startup.sink->CloudBusy(false);
    step = 2;
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return step == 2; }));
  EXPECT_FALSE(form.Controller().PollerBusy());
  EXPECT_EQ(form.LabelConnected->text(), "Not connected");
  poller2.join();
}

TEST_F(FormMainAsyncTest, ExitIsNotHeldUpByAReportInProgress) {
  auto form = std::make_unique<TFormMain>(startup, FixedSources({}));
  std::shared_ptr<CCloudStatusSink> sink = startup.sink;
  std::atomic<bool> stop{false};
  std::atomic<int> reports{0};
  // Reports keep coming while "Exit" is chosen and the window goes away.
  std::thread poller([&] {
    while (!stop) {
      sink->CloudState(true);
      ++reports;
    }
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return reports > 0; }));
  QMetaObject::invokeMethod(
      form.get(), [&] { form->MenuExit->trigger(); }, Qt::QueuedConnection);
  EXPECT_EQ(QApplication::exec(), 0);
  form.reset();  // the poller may be waiting inside a report right now
  stop = true;
  poller.join();
  EXPECT_EQ(startup.stops, 1);
}

TEST_F(FormMainAsyncTest, NewVersionNoticeOffersTheDownload) {
  setenv("OLVARO_UPDATE_URL", "http://127.0.0.1:9/", 1);
  OpenedUrls opened("http");
  TFormMain form(startup, FixedSources({}));
  ASSERT_TRUE(startup.offer);

  for (const bool download : {false, true}) {
    std::thread([offer = startup.offer] { offer(); }).join();  // the checking thread
    bool answered = false;
    // Answers the notice once its modal loop shows it.
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
      TFormNewVersion& notice = *form.FormNewVersion;
      if (!notice.isVisible()) return;
      answer.stop();
      EXPECT_TRUE(notice.isModal());
      EXPECT_FALSE(form.windowFlags() & Qt::WindowStaysOnTopHint);
      EXPECT_EQ(notice.windowTitle(), "Olvaro Desktop");
      EXPECT_EQ(notice.Label1->text(),
                "The new version of Olvaro Desktop is now available. Would you like to download it now?");
      EXPECT_EQ(notice.ButtonDownload->text(), "Download");
      EXPECT_EQ(notice.ButtonLater->text(), "Remind Me Later");
      EXPECT_TRUE(notice.ButtonDownload->isDefault());
      (download ? notice.ButtonDownload : notice.ButtonLater)->click();
      answered = true;
    });
    answer.start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return answered; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  }
  ASSERT_EQ(opened.urls.size(), 1u);
  EXPECT_EQ(opened.urls[0].toString().toStdString(), "http://127.0.0.1:9/up/print/win_downloadurl.php");
  EXPECT_EQ(opened.urls[0].toString().toStdString(), GetDownloadPageUrl());
  unsetenv("OLVARO_UPDATE_URL");
}

}  // namespace
