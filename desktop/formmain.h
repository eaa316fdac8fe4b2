// The pop-up window next to the taskbar, its tray icon and its menu. Every member runs
// on the UI thread; other threads reach the window only through its mailbox (the cloud
// poller's reports, the auth code, the update notice).
#pragma once

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

#include "base/documenthistory.h"
#include "desktop/formabout.h"
#include "desktop/formnewversion.h"
#include "desktop/formrecentdocuments.h"
#include "desktopcore/authcoderequests.h"
#include "desktopcore/desktopstartup.h"
#include "desktopcore/placement.h"
#include "desktopcore/popupmenu.h"
#include "desktopcore/uimailbox.h"

class TFormMain : public QWidget, public CCloudStatusSink {
  Q_OBJECT

 public:
  // Runs the start-up steps (FormCreate); the window starts hidden.
  TFormMain(DesktopStartup& startup, DesktopSources sources);
  // Stops what the start-up started (FormDestroy).
  ~TFormMain() override;

  // The tray icon's click: hides a visible window, otherwise shows it beside the taskbar
  // at the pointer.
  void TrayIcon1MouseUp();
  // The same with the pointer and the taskbar given.
  void PopUpBesideTaskbar(int mx, int my, const TaskbarPosition& taskbar);
  // A second start of the program asked to see the window.
  void BringToFront();

  void RefreshAddressLabel();
  void TimerUpdateAuthCodeTimer();
  void printerListBoxClick();
  void settingsIconMouseUp();
  void vostrelIconClick();
  void RecentDocuments1Click();
  void About1Click();
  void MenuStartupClick();
  void MenuExitClick();
  void FormClose();

  // The cloud poller's reports (WM_CLOUD_BUSY, WM_CLOUD_STATE), on the UI thread.
  void CloudBusy(bool busy) override;
  void CloudState(bool connected) override;

  // Tells the user in a tray notification that a document was not printed.
  void ShowNotPrintedNotice(const DocumentRecord& record);

  // Offers the download of a newer version in the modal notice.
  void ShowNewVersionNotice();

  // Controls, named as in the window's design.
  QLabel* bgImage = nullptr;
  QLabel* LabelName = nullptr;
  QLabel* printerListComboButton = nullptr;
  QLabel* printerListLabel = nullptr;
  QLabel* Image4 = nullptr;
  QListWidget* printerListBox = nullptr;
  QLabel* LabelIP = nullptr;
  QLabel* LabelIP1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* LabelAuthCode = nullptr;
  QLabel* Image3 = nullptr;
  QLabel* vostrelIcon = nullptr;
  QLabel* settingsIcon = nullptr;
  QLabel* arrowTopImage = nullptr;
  QLabel* arrowLeftImage = nullptr;
  QLabel* arrowRightImage = nullptr;
  QLabel* arrowBottomImage = nullptr;
  QPixmap imgBtn;
  QPixmap imgBtnPushed;
  QLabel* LabelConnected = nullptr;
  QTimer* TimerUpdateAuthCode = nullptr;
  QSystemTrayIcon* TrayIcon1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* RecentDocuments1 = nullptr;
  QAction* About1 = nullptr;
  QAction* MenuStartup = nullptr;
  QAction* MenuExit = nullptr;
  std::unique_ptr<TFormAbout> FormAbout;
  std::unique_ptr<TFormNewVersion> FormNewVersion;
  std::unique_ptr<TFormRecentDocuments> FormRecentDocuments;

  bool pollerBusy = false;
  int popupLeft = 0;
  int popupTop = 0;
  int refreshTimerId = 0;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void FormCreate();
  void PopUpAt(const QPoint& pointer);
  void CreateControls();
  void CreateTrayAndMenu();
  void FormShow();
  void FormDeactivate();
  void SetAuthCodeText(const QString& text);
  bool ChooserEvent(QWidget* part, QEvent* event);

  DesktopStartup& startup_;
  DesktopSources sources_;
  std::shared_ptr<UiMailbox> mailbox_;
  CAuthCodeRequests authCodes_;
  std::optional<CStartupMenuState> startupMenu_;  // read when the window is created
  bool chooserTracking_ = false;
};
