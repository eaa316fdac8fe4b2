// The pop-up window next to the taskbar (window class "OlvaroDesktopMain", title "Olvaro
// Desktop"), its tray icon and its menu, drawn with GDI and GDI+. It draws what the pop-up
// controller tells it and forwards its events there. Every member runs on the UI thread;
// other threads reach the window only through the controller's mailbox. A WM_CLOSE sent
// from outside ends the program; Alt+F4, minimising and closing from the system menu only
// hide the window.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "desktopcore/popupcontroller.h"
#include "desktopwin/formabout.h"
#include "desktopwin/formnewversion.h"
#include "desktopwin/formrecentdocuments.h"
#include "desktopwin/window.h"

// The poller's messages, as other programs may send them too.
constexpr UINT WM_CLOUD_BUSY = WM_USER + 1;
constexpr UINT WM_CLOUD_STATE = WM_USER + 2;

class TFormMain : public CWindow, public PopupView {
 public:
  // Creates the window and its tray icon and runs the start-up steps; the window starts
  // hidden.
  TFormMain(DesktopStartup& startup, DesktopSources sources);
  ~TFormMain() override;

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
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void FormDestroy();
  void AddTrayIcon();
  void FormPaint(HDC dc, Gdiplus::Graphics& graphics);
  void MouseDown(POINT at, bool left);
  void MouseMove(POINT at);
  void MouseUp(POINT at);
  void printerListBoxClick();
  void settingsIconMouseUp();
  // The mailbox's road to the UI thread: queued here, run on a posted wake-up message.
  void PostToUiThread(std::function<void()> work);
  void RunQueuedWork();

  std::mutex queueMutex_;  // guards queue_
  std::deque<std::function<void()>> queue_;
  PopupController controller_;

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

  PopupPlacement placement_;      // where the window belongs and its arrow
  std::map<PopupMenuCommand, bool> menuChecked_;  // the gear menu's check marks
  bool chooserPressed_ = false;   // the chooser shows its pressed picture
  bool chooserTracking_ = false;  // the left button went down on the chooser
  bool logoPressed_ = false;      // the left button went down on the logo
};
