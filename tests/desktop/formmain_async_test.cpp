// The window's traffic with other threads: the auth code, the poller's reports and the
// update notice.
#include "desktop/formmain.h"

#include <QApplication>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "tests/desktop/desktoptest.h"
#include "tests/support/httpsrelay.h"
#include "update/updatecheck.h"

namespace {

const TaskbarPosition kBottomTaskbar{{0, 1040, 1920, 1080}, TaskbarEdge::Bottom};
const std::string kUuid = "0123456789abcdef0123456789abcdef0123";

// A relay on loopback whose answers the case sets; generate-uuid and generate-magic are
// all the window asks for. `hold` keeps every request waiting until released.
class LocalRelay {
 public:
  LocalRelay()
      : server_([this](const RelayRequest& request) { return Answer(request); }, TestRelayServer::Scheme::Http) {
    setenv("OLVARO_API_URL", server_.BaseUrl().c_str(), 1);
  }
  ~LocalRelay() {
    Release();
    server_.Stop();
    unsetenv("OLVARO_API_URL");
  }

  void Release() {
    std::lock_guard lock(mutex_);
    hold_ = false;
    wake_.notify_all();
  }
  size_t RequestCount() const { return server_.Requests().size(); }

  bool hold_ = false;
  int magicStatus = 200;
  std::string magic = "K7Q2XZ";

 private:
  RelayResponse Answer(const RelayRequest& request) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !hold_; });
    RelayResponse response;
    if (request.target.find("generate-uuid.php") != std::string::npos) {
      response.body = kUuid;
    } else {
      response.status = magicStatus;
      response.body = magic;
    }
    return response;
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  TestRelayServer server_;
};

class FormMainAsyncTest : public testing::Test {
 protected:
  RecordingStartup startup;
};

TEST_F(FormMainAsyncTest, AuthCodeFromTheRelayAndDashesWhenItFails) {
  LocalRelay relay;
  FetchCounter fetches(SystemDesktopSources().authCode);
  DesktopSources sources = FixedSources({});
  sources.authCode = fetches.Source();
  TFormMain form(startup, sources);

  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  EXPECT_EQ(form.LabelAuthCode->text(), "- - - - -");
  ASSERT_TRUE(ProcessEventsUntil([&] { return form.LabelAuthCode->text() == "K7Q2XZ"; }));

  relay.magicStatus = 500;
  form.hide();
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  ASSERT_TRUE(ProcessEventsUntil([&] { return fetches.Finished() == 2; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(form.LabelAuthCode->text(), "- - - - -");
}

TEST_F(FormMainAsyncTest, SilentRelayDoesNotHoldUpTheWindow) {
  LocalRelay relay;
  relay.hold_ = true;
  FetchCounter fetches(SystemDesktopSources().authCode);
  DesktopSources sources = FixedSources({"10.0.0.1"});
  sources.authCode = fetches.Source();
  TFormMain form(startup, sources);

  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  form.TimerUpdateAuthCodeTimer();  // returns although the relay does not answer
  ASSERT_TRUE(ProcessEventsUntil([&] { return relay.RequestCount() >= 1; }));
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  EXPECT_FALSE(form.isVisible()) << "the window still reacts to clicks";
  EXPECT_EQ(form.LabelAuthCode->text(), "- - - - -");

  relay.Release();
  ASSERT_TRUE(ProcessEventsUntil([&] { return fetches.Finished() >= 1; }));
}

TEST_F(FormMainAsyncTest, AnswerOfAnOlderShowingIsDropped) {
  std::mutex mutex;
  std::condition_variable wake;
  bool releaseFirst = false;
  int calls = 0;
  FetchCounter fetches([&]() -> std::string {
    std::unique_lock lock(mutex);
    if (++calls == 1) {
      wake.wait(lock, [&] { return releaseFirst; });
      return "OLD111";
    }
    return "NEW222";
  });
  DesktopSources sources = FixedSources({});
  sources.authCode = fetches.Source();
  TFormMain form(startup, sources);

  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  form.TimerUpdateAuthCodeTimer();
  form.hide();
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  form.TimerUpdateAuthCodeTimer();
  ASSERT_TRUE(ProcessEventsUntil([&] { return form.LabelAuthCode->text() == "NEW222"; }));
  {
    std::lock_guard lock(mutex);
    releaseFirst = true;
  }
  wake.notify_all();
  ASSERT_TRUE(ProcessEventsUntil([&] { return fetches.Finished() == 2; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(form.LabelAuthCode->text(), "NEW222");
}

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
  EXPECT_TRUE(form.pollerBusy);
  EXPECT_EQ(form.LabelConnected->text(), "Connected");
  poller.join();

  std::thread poller2([&] {
    startup.sink->CloudState(false);
    startup.sink->CloudBusy(false);
    step = 2;
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return step == 2; }));
  EXPECT_FALSE(form.pollerBusy);
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
  QMetaObject::invokeMethod(form.get(), [&] { form->MenuExitClick(); }, Qt::QueuedConnection);
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
