// The pop-up's behaviour, without a toolkit: a recording view, the CUPS test queues
// (scripts/start-services.sh --test-queues), the real settings and start-up entry in a
// private per-user tree, and a local relay for the auth code.
#include "desktopcore/popupcontroller.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include <cups/cups.h>
#include <gtest/gtest.h>

#include "base/documenthistory.h"
#include "base/settings.h"
#include "desktopcore/popuplayout.h"
#include "print/printers.h"
#include "tests/desktopcore/recordingview.h"
#include "tests/support/httpsrelay.h"
#include "tests/support/testenv.h"
#include "update/updatecheck.h"

namespace {

// One per-user tree for the whole program: libcups reads HOME once per thread.
class UserTree : public testing::Environment {
 public:
  void SetUp() override { tree_.emplace(); }
  void TearDown() override { tree_.reset(); }

 private:
  std::optional<TestEnvironment> tree_;
};
testing::Environment* const kUserTree = testing::AddGlobalTestEnvironment(new UserTree);

const PopupAnchor kBottomRight{1910, 1060, {{0, 1040, 1920, 1080}, TaskbarEdge::Bottom}};
const PopupAnchor kLeftTaskbar{20, 500, {{0, 0, 48, 1080}, TaskbarEdge::Left}};
constexpr std::chrono::milliseconds kQuiet{300};  // long enough for work that should not come
const std::string kQueueA = "OlvaroTestA";
const std::string kQueueB = "OlvaroTestB";

class PopupControllerTest : public testing::Test {
 protected:
  void SetUp() override {
    WriteSettingString("preferredPrinterName", "");
    if (IsStartupEntryPresent()) ToggleStartupEntry(true);
    view.onShowing = [this] { controller->Showing(); };
  }

  // The controller, started as a face starts it once its window exists.
  PopupController& Start(DesktopSources sources = FixedSources({"192.168.1.5", "10.0.0.2"})) {
    controller.emplace(view, startup, std::move(sources), ui.Poster(), clock.Source());
    controller->Start();
    return *controller;
  }

  void RequireTestQueues() {
    const std::vector<std::string> printers = GetPrinterList();
    for (const std::string& queue : {kQueueA, kQueueB}) {
      SKIP_WITHOUT_SERVICE(std::find(printers.begin(), printers.end(), queue) != printers.end(),
                           "cupsd with the test queues is not running (scripts/start-services.sh --test-queues)");
    }
    SetDefaultPrinterName(kQueueA);
    ASSERT_EQ(GetDefaultPrinterName(), kQueueA);
  }

  RecordingView view;
  RecordingStartup startup;
  TestUiThread ui;
  TestClock clock;
  std::optional<PopupController> controller;
};

TEST_F(PopupControllerTest, StartFillsTheWindowHiddenAndStopEndsTheServicesOnce) {
  Start();
  EXPECT_FALSE(view.shown);
  EXPECT_EQ(view.labels[PopupLabel::Addresses], "192.168.1.5\n10.0.0.2\n");
  EXPECT_EQ(view.labels[PopupLabel::Connection], "Not connected");
  EXPECT_EQ(view.timers[PopupTimer::AddressRefresh], kRefreshPeriodMs);
  EXPECT_EQ(view.startupChecked, false);
  EXPECT_EQ(view.shareChecked, true) << "sharing with all phones is on until turned off";
  EXPECT_EQ(startup.starts, 1);
  EXPECT_TRUE(startup.sink && startup.offer);
  controller->Stop();
  controller->Stop();
  controller.reset();
  EXPECT_EQ(startup.stops, 1);
}

// Showing: where the window goes, what each showing loads, and the tray click rule.
TEST_F(PopupControllerTest, TrayClickShowsBesideTheTaskbarAndASecondClickHides) {
  Start();
  controller->TrayClicked(kBottomRight);
  ASSERT_TRUE(view.shown);
  ASSERT_TRUE(view.placement);
  EXPECT_EQ(view.placement->left, 1586);
  EXPECT_EQ(view.placement->top, 855);
  EXPECT_EQ(view.placement->arrow, TaskbarEdge::Bottom);
  EXPECT_EQ(view.placement->horizontalArrowLeft, 276);
  EXPECT_EQ(view.labels[PopupLabel::AuthCode], "- - - - -");
  EXPECT_EQ(view.timers[PopupTimer::AuthCode], kAuthCodeDelayMs);

  controller->TrayClicked(kBottomRight);
  EXPECT_FALSE(view.shown);
  controller->TrayClicked(kLeftTaskbar);
  EXPECT_EQ(view.placement->left, 48);
  EXPECT_EQ(view.placement->top, 408);
  EXPECT_EQ(view.placement->arrow, TaskbarEdge::Left);
}

TEST_F(PopupControllerTest, ClickJustAfterAHidingByDeactivationKeepsTheWindowClosed) {
  Start();
  controller->TrayClicked(kBottomRight);
  view.listShown = true;
  controller->Deactivated();  // the press on the tray icon took the activation
  EXPECT_FALSE(view.shown);
  EXPECT_FALSE(view.listShown);
  clock.now += std::chrono::milliseconds(kTrayClickAfterHideMs - 1);
  controller->TrayClicked(kBottomRight);
  EXPECT_FALSE(view.shown) << "the click that came with the hiding";
  clock.now += std::chrono::milliseconds(1);
  controller->TrayClicked(kBottomRight);
  EXPECT_TRUE(view.shown);

  // Closing and a deactivation while hidden hide without arming the rule.
  controller->CloseRequested();
  EXPECT_FALSE(view.shown);
  controller->Deactivated();
  controller->TrayClicked(kBottomRight);
  EXPECT_TRUE(view.shown);
}

TEST_F(PopupControllerTest, ShowingFromOutsideGoesToTheDefaultAnchor) {
  Start();
  view.defaultAnchor = kLeftTaskbar;
  view.Show();  // a later start of the program restored the window
  ASSERT_TRUE(view.placement);
  EXPECT_EQ(view.placement->left, 48);
  EXPECT_EQ(view.labels[PopupLabel::AuthCode], "- - - - -");

  view.Hide();
  controller->PopUpBeside(kBottomRight);
  EXPECT_EQ(view.placement->left, 1586) << "a placed showing keeps its place";
  view.Hide();
  view.Show();
  EXPECT_EQ(view.placement->left, 48) << "the next showing from outside is placed anew";
}

TEST_F(PopupControllerTest, AddressLabelRefreshesOnlyWhileShown) {
  std::vector<std::string> addresses;
  DesktopSources sources = FixedSources({});
  sources.localAddresses = [&addresses] { return addresses; };
  Start(sources);
  EXPECT_EQ(view.labels[PopupLabel::Addresses], "No IP\n");

  addresses = {"192.168.7.7"};
  controller->TimerFired(PopupTimer::AddressRefresh);
  EXPECT_EQ(view.labels[PopupLabel::Addresses], "No IP\n") << "hidden windows are not refreshed";
  controller->TrayClicked(kBottomRight);
  view.timers.clear();
  controller->TimerFired(PopupTimer::AddressRefresh);
  EXPECT_EQ(view.labels[PopupLabel::Addresses], "192.168.7.7\n");
  EXPECT_EQ(view.timers[PopupTimer::AddressRefresh], kRefreshPeriodMs) << "the refresh goes on";
}

// The auth code: fetched off the UI thread once per showing, and only the latest
// showing's answer is shown.
TEST_F(PopupControllerTest, AuthCodeComesFromTheRelayAndDashesWhenItFails) {
  int magicStatus = 200;
  TestRelayServer relay(
      [&magicStatus](const RelayRequest&) {
        RelayResponse response;
        response.status = magicStatus;
        response.body = "K7Q2XZ";
        return response;
      },
      TestRelayServer::Scheme::Http);
  setenv("OLVARO_API_URL", relay.BaseUrl().c_str(), 1);
  WriteSettingString("Magic", "0123456789abcdef0123456789abcdef0123");
  std::atomic<int> fetched{0};
  DesktopSources sources = FixedSources({});
  sources.authCode = [&fetched] {
    std::string code = SystemDesktopSources().authCode();
    ++fetched;
    return code;
  };
  Start(sources);

  controller->TrayClicked(kBottomRight);
  controller->TimerFired(PopupTimer::AuthCode);
  EXPECT_EQ(view.timers.count(PopupTimer::AuthCode), 0u) << "one request per showing";
  ASSERT_TRUE(ui.RunUntil([&] { return view.labels[PopupLabel::AuthCode] == "K7Q2XZ"; }));

  magicStatus = 500;
  controller->TrayClicked(kBottomRight);
  controller->TrayClicked(kBottomRight);
  controller->TimerFired(PopupTimer::AuthCode);
  ASSERT_TRUE(ui.RunUntil([&] { return fetched == 2; }));
  controller->Stop();
  EXPECT_EQ(view.labels[PopupLabel::AuthCode], "- - - - -");
  WriteSettingString("Magic", "");
  unsetenv("OLVARO_API_URL");
}

TEST_F(PopupControllerTest, AnswerOfAnOlderShowingIsDropped) {
  std::mutex mutex;
  std::condition_variable wake;
  bool releaseFirst = false;
  int calls = 0;
  std::atomic<int> finished{0};
  DesktopSources sources = FixedSources({});
  sources.authCode = [&]() -> std::string {
    std::unique_lock lock(mutex);
    const bool first = ++calls == 1;
    if (first) wake.wait(lock, [&] { return releaseFirst; });
    ++finished;
    return first ? "OLD111" : "NEW222";
  };
  Start(sources);

  controller->TrayClicked(kBottomRight);
  controller->TimerFired(PopupTimer::AuthCode);  // returns although the answer is held up
  controller->TrayClicked(kBottomRight);
  controller->TrayClicked(kBottomRight);
  controller->TimerFired(PopupTimer::AuthCode);
  ASSERT_TRUE(ui.RunUntil([&] { return view.labels[PopupLabel::AuthCode] == "NEW222"; }));
  {
    std::lock_guard lock(mutex);
    releaseFirst = true;
  }
  wake.notify_all();
  // The old answer is posted once its fetch ends; running it must leave the new code.
  ASSERT_TRUE(ui.RunUntil([&] { return finished == 2; }));
  ui.RunUntil([] { return false; }, kQuiet);
  controller->Stop();
  EXPECT_EQ(view.labels[PopupLabel::AuthCode], "NEW222");
}

// The printer chooser against the CUPS test queues.
TEST_F(PopupControllerTest, ShowingListsThePrintersAndNamesTheDefault) {
  RequireTestQueues();
  Start();
  controller->TrayClicked(kBottomRight);
  EXPECT_NE(std::find(view.printers.begin(), view.printers.end(), kQueueA), view.printers.end());
  EXPECT_NE(std::find(view.printers.begin(), view.printers.end(), kQueueB), view.printers.end());
  EXPECT_EQ(view.labels[PopupLabel::Printer], kQueueA);
}

TEST_F(PopupControllerTest, ChooserTogglesTheListAndAPickStoresAndSetsTheDefault) {
  RequireTestQueues();
  Start();
  controller->TrayClicked(kBottomRight);
  controller->ChooserClicked();
  EXPECT_TRUE(view.listShown);
  controller->ChooserClicked();
  EXPECT_FALSE(view.listShown);
  controller->ChooserClicked();

  controller->PrinterPicked(kQueueB);
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), kQueueB);
  EXPECT_EQ(GetDefaultPrinterName(), kQueueB);
  EXPECT_EQ(view.labels[PopupLabel::Printer], kQueueB);
  EXPECT_FALSE(view.listShown);
}

TEST_F(PopupControllerTest, ShowingRestoresThePreferenceAndIgnoresAMissingOne) {
  RequireTestQueues();
  WriteSettingString("preferredPrinterName", kQueueB);
  Start();
  controller->TrayClicked(kBottomRight);
  EXPECT_EQ(GetDefaultPrinterName(), kQueueB);
  EXPECT_EQ(view.labels[PopupLabel::Printer], kQueueB);

  SetDefaultPrinterName(kQueueA);
  WriteSettingString("preferredPrinterName", "OlvaroRemovedQueue");
  controller->TrayClicked(kBottomRight);
  controller->TrayClicked(kBottomRight);
  EXPECT_EQ(GetDefaultPrinterName(), kQueueA);
  EXPECT_EQ(view.labels[PopupLabel::Printer], kQueueA);
}

TEST_F(PopupControllerTest, NoSchedulerMeansNoPrinterInstalled) {
  cupsSetServer("/nonexistent/olvaro-test-cups.sock");
  Start();
  controller->TrayClicked(kBottomRight);
  cupsSetServer(nullptr);
  EXPECT_EQ(view.labels[PopupLabel::Printer], "<no printer installed>");
  EXPECT_TRUE(view.printers.empty());
}

// Notices: documents that were not printed, the poller's reports, a newer version.
TEST_F(PopupControllerTest, DocumentThatWasNotPrintedIsAnnouncedFromAnyThread) {
  Start();
  std::thread([] {
    RecordDocument({0, "letter.pdf", "192.168.1.5", "OfficeLaser", true, ""});
    RecordDocument(
        {0, "report.xyz", kCloudSource, "OfficeLaser", false, "no program here can print this kind of file"});
  }).join();
  ASSERT_TRUE(ui.RunUntil([&] { return !view.notices.empty(); }));
  EXPECT_EQ(view.notices,
            std::vector<std::string>{"report.xyz was not printed: no program here can print this kind of file"});

  controller->Stop();
  RecordDocument({0, "late.xyz", kCloudSource, "", false, "no printer"});
  EXPECT_FALSE(ui.RunUntil([&] { return view.notices.size() > 1; }, kQuiet)) << "the window has gone";
}

TEST_F(PopupControllerTest, PollerReportsArriveOnTheUiThreadSynchronously) {
  Start();
  std::atomic<bool> reported{false};
  std::thread poller([&] {
    startup.sink->CloudBusy(true);
    startup.sink->CloudState(true);
    reported = true;
  });
  ASSERT_TRUE(ui.RunUntil([&] { return reported.load(); }));
  EXPECT_TRUE(controller->PollerBusy());
  EXPECT_EQ(view.labels[PopupLabel::Connection], "Connected");
  poller.join();

  // A poller still reporting when the window goes away is let go.
  std::thread late([&] { startup.sink->CloudState(false); });
  controller->Stop();
  late.join();
  ui.RunUntil([] { return false; }, kQuiet);
  EXPECT_EQ(view.labels[PopupLabel::Connection], "Connected");
}

TEST_F(PopupControllerTest, NewVersionNoticeOffersTheDownloadPage) {
  setenv("OLVARO_UPDATE_URL", "http://127.0.0.1:9/", 1);
  Start();
  for (const bool download : {false, true}) {
    view.downloadAnswer = download;
    std::thread([offer = startup.offer] { offer(); }).join();  // the checking thread
    const int asked = view.newVersionNotices;
    ASSERT_TRUE(ui.RunUntil([&] { return view.newVersionNotices > asked; }));
  }
  EXPECT_EQ(view.urls, std::vector<std::string>{GetDownloadPageUrl()});
  EXPECT_EQ(view.urls[0], "http://127.0.0.1:9/up/print/win_downloadurl.php");
  unsetenv("OLVARO_UPDATE_URL");
}

// The gear menu and the logo.
TEST_F(PopupControllerTest, MenuCommandsAndTheLogo) {
  ToggleStartupEntry(false);
  ASSERT_TRUE(IsStartupEntryPresent());
  Start();
  EXPECT_EQ(view.startupChecked, true);
  controller->MenuChosen(PopupMenuCommand::LaunchAtStartup);
  EXPECT_EQ(view.startupChecked, false);
  EXPECT_FALSE(IsStartupEntryPresent());
  controller->MenuChosen(PopupMenuCommand::LaunchAtStartup);
  EXPECT_EQ(view.startupChecked, true);
  EXPECT_TRUE(IsStartupEntryPresent());

  // Avahi announces subtypes, so the sharing entry makes no exception for iPhones.
  EXPECT_EQ(PopupMenuEntries()[3].text, "Share with all phones (AirPrint, Mopria)");
  controller->MenuChosen(PopupMenuCommand::ShareWithAllPhones);
  EXPECT_EQ(view.shareChecked, false);
  EXPECT_FALSE(ReadShareWithAllPhones());
  controller->MenuChosen(PopupMenuCommand::ShareWithAllPhones);
  EXPECT_EQ(view.shareChecked, true);
  EXPECT_TRUE(ReadShareWithAllPhones());
  EXPECT_EQ(view.startupChecked, true);

  controller->MenuChosen(PopupMenuCommand::About);
  controller->MenuChosen(PopupMenuCommand::RecentDocuments);
  EXPECT_EQ(view.abouts, 1);
  EXPECT_EQ(view.recentDocuments, 1);
  controller->LogoClicked();
  EXPECT_EQ(view.urls, std::vector<std::string>{"https://olvaro.app/"});

  controller->TrayClicked(kBottomRight);
  controller->MenuChosen(PopupMenuCommand::Exit);
  EXPECT_FALSE(view.shown);
  EXPECT_EQ(view.quits, 1);
  EXPECT_EQ(startup.stops, 0) << "the face stops the services when its window goes";
}

}  // namespace
