// The pop-up window next to the taskbar, its tray icon and its menu, drawn with Qt. It
// draws what the pop-up controller tells it and forwards its events there. Every member
// runs on the UI thread; other threads reach the window only through the controller's
// mailbox.
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

#include "desktop/formabout.h"
#include "desktop/formnewversion.h"
#include "desktop/formrecentdocuments.h"
#include "desktopcore/popupcontroller.h"

class TFormMain : public QWidget, public PopupView {
  Q_OBJECT

 public:
  // Runs the start-up steps; the window starts hidden. `clock` is for tests.
  TFormMain(DesktopStartup& startup, DesktopSources sources,
            PopupController::Clock clock = std::chrono::steady_clock::now);
  // Stops what the start-up started.
  ~TFormMain() override;

  // The tray icon's click at the pointer.
  void TrayIcon1MouseUp();
  // The same with the pointer and the taskbar given.
  void PopUpBesideTaskbar(int mx, int my, const TaskbarPosition& taskbar);
  // A second start of the program asked to see the window.
  void BringToFront();

  PopupController& Controller() { return controller_; }

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
  QTimer* TimerRefreshAddresses = nullptr;
  QSystemTrayIcon* TrayIcon1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* RecentDocuments1 = nullptr;
  QAction* About1 = nullptr;
  QAction* MenuStartup = nullptr;
  QAction* MenuShare = nullptr;
  QAction* MenuExit = nullptr;
  std::unique_ptr<TFormAbout> FormAbout;
  std::unique_ptr<TFormNewVersion> FormNewVersion;
  std::unique_ptr<TFormRecentDocuments> FormRecentDocuments;

  // What the controller asks of the window.
  bool IsShown() const override;
  void Place(const PopupPlacement& placement) override;
  void Show() override;
  void Hide() override;
  PopupAnchor DefaultAnchor() const override;
  void SetLabel(PopupLabel label, const std::string& text) override;
  void FillPrinterList(const std::vector<std::string>& printers) override;
  bool IsPrinterListShown() const override;
  void ShowPrinterList(bool shown) override;
  void StartTimer(PopupTimer timer, int milliseconds) override;
  void StopTimer(PopupTimer timer) override;
  void SetMenuChecked(PopupMenuCommand command, bool checked) override;
  void ShowNotice(const std::string& text) override;
  bool AskNewVersion() override;
  void ShowAbout() override;
  void ShowRecentDocuments() override;
  void OpenUrl(const std::string& url) override;
  void Quit() override;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void CreateControls();
  void CreateTrayAndMenu();
  PopupAnchor AnchorAt(const QPoint& pointer) const;
  void SetAuthCodeText(const QString& text);
  bool ChooserEvent(QWidget* part, QEvent* event);
  QTimer* TimerOf(PopupTimer timer) const;

  PopupController controller_;
  QPoint place_;  // where the window belongs
  bool chooserTracking_ = false;
};
