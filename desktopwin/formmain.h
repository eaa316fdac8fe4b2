// The pop-up window next to the taskbar (window class "OlvaroDesktopMain", title "Olvaro
// Desktop"), its tray icon and its menu. Every member runs on the UI thread; other threads
// reach the window only through its mailbox (the cloud poller's reports, the auth code,
// the update notice). A WM_CLOSE sent from outside ends the program; Alt+F4, minimising
// and closing from the system menu only hide the window.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "desktopcore/authcoderequests.h"
#include "desktopcore/desktopstartup.h"
#include "desktopcore/placement.h"
#include "desktopcore/popupmenu.h"
#include "desktopcore/uimailbox.h"
#include "desktopwin/formabout.h"
#include "desktopwin/formnewversion.h"
#include "desktopwin/formrecentdocuments.h"
#include "desktopwin/window.h"

// The poller's messages, as other programs may send them too.
constexpr UINT WM_CLOUD_BUSY = WM_USER + 1;
constexpr UINT WM_CLOUD_STATE = WM_USER + 2;

class TFormMain : public CWindow, public CCloudStatusSink {
 public:
  // Creates the window and its tray icon and runs the start-up steps (FormCreate); the
  // window starts hidden.
  TFormMain(DesktopStartup& startup, DesktopSources sources);
  ~TFormMain() override;

  // The tray icon's click, any button: hides a visible window, otherwise shows it beside
  // the taskbar at the pointer.
  void TrayIcon1MouseUp();

  // The cloud poller's reports (WM_CLOUD_BUSY, WM_CLOUD_STATE), on the UI thread.
  void CloudBusy(bool busy) override;
  void CloudState(bool connected) override;

 protected:
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void FormCreate();
  void FormDestroy();
  void AddTrayIcon();
  void PlaceBesideTaskbar(POINT pointer);
  void FormShow();
  void FormPaint(HDC dc, Gdiplus::Graphics& graphics);
  void FormDeactivate();
  void FormClose();
  void RefreshAddressLabel();
  void TimerUpdateAuthCodeTimer();
  void SetLabel(std::string& label, std::string text);
  void MouseDown(POINT at, bool left);
  void MouseMove(POINT at);
  void MouseUp(POINT at);
  void printerListBoxClick();
  void settingsIconMouseUp();
  void vostrelIconClick();
  void MenuCommand(PopupMenuCommand command);
  void MenuExitClick();
  void ShowNewVersionNotice();
  // The mailbox's road to the UI thread: queued here, run on a posted wake-up message.
  void PostToUiThread(std::function<void()> work);
  void RunQueuedWork();

  DesktopStartup& startup_;
  DesktopSources sources_;
  std::mutex queueMutex_;  // guards queue_
  std::deque<std::function<void()>> queue_;
  std::shared_ptr<UiMailbox> mailbox_;
  CAuthCodeRequests authCodes_;
  std::optional<CStartupMenuState> startupMenu_;  // read when the window is created

  // Pictures, fonts and the controls that are real windows.
  std::unique_ptr<Gdiplus::Bitmap> bgImage, imgBtn, imgBtnPushed, Image4, Image3, vostrelIcon, settingsIcon,
      arrowTopImage, arrowLeftImage, arrowRightImage, arrowBottomImage;
  FontHandle nameFont_ = TahomaFont(16, true);
  FontHandle printerFont_ = TahomaFont(13);
  FontHandle labelFont_ = TahomaFont(12, true);
  FontHandle listFont_ = TahomaFont(11);
  HWND printerListBox = nullptr;
  HICON trayIcon_ = nullptr;
  UINT taskbarCreated_ = 0;  // the shell's message after a restart of the taskbar
  TFormAbout FormAbout;
  TFormNewVersion FormNewVersion;
  TFormRecentDocuments FormRecentDocuments;

  // What the labels show.
  std::string printerListLabel, LabelIP1, LabelAuthCode, LabelConnected;

  bool pollerBusy = false;
  int popupLeft = 0;
  int popupTop = 0;
  UINT_PTR refreshTimerId = 0;
  PopupPlacement placement_;
  bool placed_ = false;            // the next showing was placed by a tray click
  bool chooserPressed_ = false;    // the chooser shows its pressed picture
  bool chooserTracking_ = false;   // the left button went down on the chooser
  bool logoPressed_ = false;       // the left button went down on the logo
  ULONGLONG hiddenByDeactivationAt_ = 0;  // tick count of the last hiding by deactivation
};
