#include "desktop/formmain.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCloseEvent>

#include "base/documenthistory.h"
#include "base/settings.h"
#include "base/version.h"
#include "tests/desktop/desktoptest.h"

namespace {

const TaskbarPosition kBottomTaskbar{{0, 1040, 1920, 1080}, TaskbarEdge::Bottom};

// Clears what one case stored for the next: the preference and the start-up entry.
class FormMainTest : public testing::Test {
 protected:
  void SetUp() override {
    WriteSettingString("preferredPrinterName", "");
    if (IsStartupEntryPresent()) ToggleStartupEntry(true);
  }

  RecordingStartup startup;
};

bool ShowsPicture(const QLabel* label, const QPixmap& picture) {
  return label->pixmap().toImage() == picture.toImage();
}

TEST_F(FormMainTest, StartsHiddenWithItsLayoutAndRunsTheStartupOnce) {
  {
    TFormMain form(startup, FixedSources({"192.168.1.5", "10.0.0.2"}));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(startup.starts, 1);
    EXPECT_EQ(startup.stops, 0);
    EXPECT_TRUE(startup.sink);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(form.windowTitle(), "Olvaro Desktop");
    EXPECT_EQ(form.LabelName->text(), "Olvaro Desktop");
    EXPECT_TRUE(form.printerListBox->isHidden());
    EXPECT_EQ(form.LabelIP->text(), "IP:");
    EXPECT_EQ(form.LabelIP1->text(), "192.168.1.5\n10.0.0.2\n");
    EXPECT_EQ(form.Label1->text(), "Authcode:");
    EXPECT_TRUE(form.LabelConnected->isHidden());
    EXPECT_EQ(form.TrayIcon1->toolTip(), "Olvaro Desktop");
    ASSERT_EQ(form.PopupMenu1->actions().size(), 5);
    EXPECT_EQ(form.RecentDocuments1->text(), "Recent documents\u2026");
    EXPECT_EQ(form.About1->text(), "About");
    EXPECT_EQ(form.MenuStartup->text(), "Launch At Startup");
    EXPECT_EQ(form.MenuShare->text(), "Share with all phones (AirPrint, Mopria)");
    EXPECT_EQ(form.MenuExit->text(), "Exit");
    EXPECT_FALSE(form.MenuStartup->isChecked());
    EXPECT_TRUE(form.MenuShare->isChecked());
  }
  EXPECT_EQ(startup.stops, 1);
}

TEST_F(FormMainTest, TimersReachTheLabels) {
  std::vector<std::string> addresses;
  DesktopSources sources = FixedSources({}, "ABC123");
  sources.localAddresses = [&addresses] { return addresses; };
  TFormMain form(startup, sources);
  EXPECT_EQ(form.LabelIP1->text(), "No IP\n");
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  addresses = {"192.168.7.7"};
  EXPECT_TRUE(ProcessEventsUntil(
      [&] { return form.LabelIP1->text() == "192.168.7.7\n" && form.LabelAuthCode->text() == "ABC123"; }));
}

TEST_F(FormMainTest, TrayClickShowsBesideTheTaskbarAndASecondClickHides) {
  TFormMain form(startup, FixedSources({"10.1.1.1"}));
  form.PopUpBesideTaskbar(1910, 1060, kBottomTaskbar);
  ASSERT_TRUE(form.isVisible());
  EXPECT_EQ(form.pos(), QPoint(1586, 855));
  EXPECT_FALSE(form.arrowBottomImage->isHidden());
  EXPECT_TRUE(form.arrowTopImage->isHidden());
  EXPECT_TRUE(form.arrowLeftImage->isHidden());
  EXPECT_TRUE(form.arrowRightImage->isHidden());
  EXPECT_EQ(form.arrowBottomImage->pos(), QPoint(276, 168));
  EXPECT_EQ(form.LabelAuthCode->text(), "- - - - -");

  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  EXPECT_FALSE(form.isVisible());

  form.PopUpBesideTaskbar(20, 500, {{0, 0, 48, 1080}, TaskbarEdge::Left});
  EXPECT_EQ(form.pos(), QPoint(48, 408));
  EXPECT_FALSE(form.arrowLeftImage->isHidden());
  EXPECT_TRUE(form.arrowBottomImage->isHidden());
  EXPECT_EQ(form.arrowLeftImage->pos(), QPoint(-1, 74));
}

TEST_F(FormMainTest, DeactivationCloseAndMinimiseOnlyHide) {
  TestClock clock;
  TFormMain form(startup, FixedSources({}), clock.Source());
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  Click(form.printerListComboButton);
  ASSERT_TRUE(form.printerListBox->isVisible());
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(&form, &deactivate);
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(form.printerListBox->isHidden());

  clock.now += std::chrono::seconds(1);  // past the tray click that came with the hiding
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  QCloseEvent close;
  QApplication::sendEvent(&form, &close);
  EXPECT_FALSE(close.isAccepted());
  EXPECT_FALSE(form.isVisible());

  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  form.showMinimized();
  EXPECT_TRUE(ProcessEventsUntil([&] { return !form.isVisible(); }));
  EXPECT_FALSE(form.isMinimized());
  EXPECT_EQ(startup.stops, 0);
}

TEST_F(FormMainTest, ChooserPartsActAsOneButton) {
  TFormMain form(startup, FixedSources({}));
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);

  QWidget* label = form.printerListLabel;
  SendMouse(label, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
  EXPECT_TRUE(ShowsPicture(form.printerListComboButton, form.imgBtnPushed));
  SendMouse(label, QEvent::MouseMove, QPoint(300, 5), Qt::LeftButton);
  EXPECT_TRUE(ShowsPicture(form.printerListComboButton, form.imgBtn));
  SendMouse(label, QEvent::MouseMove, QPoint(5, 5), Qt::LeftButton);
  EXPECT_TRUE(ShowsPicture(form.printerListComboButton, form.imgBtnPushed));
  SendMouse(label, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::NoButton);
  EXPECT_TRUE(ShowsPicture(form.printerListComboButton, form.imgBtn));
  EXPECT_TRUE(form.printerListBox->isVisible());

  Click(form.Image4);
  EXPECT_TRUE(form.printerListBox->isHidden());
  Click(form.printerListComboButton);
  EXPECT_TRUE(form.printerListBox->isVisible());
}

TEST_F(FormMainTest, StartupAndSharingMenusFollowTheirSettings) {
  ToggleStartupEntry(false);
  ASSERT_TRUE(IsStartupEntryPresent());
  ASSERT_TRUE(WriteShareWithAllPhones(false));
  TFormMain form(startup, FixedSources({}));
  EXPECT_FALSE(form.MenuShare->isChecked());
  form.MenuShare->trigger();
  EXPECT_TRUE(form.MenuShare->isChecked());
  EXPECT_TRUE(ReadShareWithAllPhones());
  EXPECT_TRUE(form.MenuStartup->isChecked());
  form.MenuStartup->trigger();
  EXPECT_FALSE(form.MenuStartup->isChecked());
  EXPECT_FALSE(IsStartupEntryPresent());
  form.MenuStartup->trigger();
  EXPECT_TRUE(form.MenuStartup->isChecked());
  EXPECT_TRUE(IsStartupEntryPresent());
}

TEST_F(FormMainTest, AboutShowsTheVersion) {
  TFormMain form(startup, FixedSources({}));
  form.About1->trigger();
  const TFormAbout& about = *form.FormAbout;
  EXPECT_TRUE(about.isVisible());
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_EQ(about.Label1->text(), "Olvaro Desktop");
  EXPECT_EQ(about.versionLabel->text(), QString("Version ") + kProductVersion);
}

TEST_F(FormMainTest, RecentDocumentsListsWhatBecameOfEachDocument) {
  TFormMain form(startup, FixedSources({}));
  RecordDocument({0, "letter.pdf", "192.168.1.5", "OfficeLaser", true, ""});
  RecordDocument({0, "report.xyz", kCloudSource, "OfficeLaser", false, "no program here can print this kind of file"});
  form.RecentDocuments1->trigger();
  const QTreeWidget* list = form.FormRecentDocuments->documentList;
  EXPECT_TRUE(form.FormRecentDocuments->isVisible());
  ASSERT_GE(list->topLevelItemCount(), 2);
  const QTreeWidgetItem* newest = list->topLevelItem(0);
  EXPECT_EQ(newest->text(1), "report.xyz");
  EXPECT_EQ(newest->text(2), "cloud relay");
  EXPECT_EQ(newest->text(4), "not printed: no program here can print this kind of file");
  EXPECT_EQ(list->topLevelItem(1)->text(2), "phone 192.168.1.5");
  EXPECT_EQ(list->topLevelItem(1)->text(4), "printed");
}

TEST_F(FormMainTest, LogoOpensTheMakersSite) {
  OpenedUrls opened("https");
  TFormMain form(startup, FixedSources({}));
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  Click(form.vostrelIcon);
  ASSERT_EQ(opened.urls.size(), 1u);
  EXPECT_EQ(opened.urls[0].scheme(), "https");
}

TEST_F(FormMainTest, ExitEndsTheLoopAndHides) {
  TFormMain form(startup, FixedSources({}));
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  QMetaObject::invokeMethod(
      &form, [&form] { form.MenuExit->trigger(); }, Qt::QueuedConnection);
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(form.isVisible());
}

}  // namespace
