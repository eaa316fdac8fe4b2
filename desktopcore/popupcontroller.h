// The pop-up's behaviour, once for every face: what a showing loads, when the address
// label refreshes, the auth code, the printer chooser, the gear menu, the tray click rule
// and the notices. A face forwards its events here and draws through a PopupView.
// UI thread only, except where a comment says otherwise.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cloud/printercloud.h"
#include "desktopcore/authcoderequests.h"
#include "desktopcore/desktopstartup.h"
#include "desktopcore/popupmenu.h"
#include "desktopcore/popupview.h"
#include "desktopcore/uimailbox.h"

class PopupController : public CCloudStatusSink {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `postToUiThread` is the face's road to its UI thread; `clock` is for tests.
  PopupController(PopupView& view, DesktopStartup& startup, DesktopSources sources,
                  UiMailbox::UiThreadPoster postToUiThread, Clock clock = std::chrono::steady_clock::now);
  // Stop() when the face has not called it.
  ~PopupController() override;

  // The window exists and is hidden: fills the address label, reads the start-up entry and
  // the sharing setting, listens for documents that were not printed and runs the
  // start-up steps.
  void Start();
  // The window is going away: reports and answers still on their way find it gone; then
  // the start-up's services stop. A poller waiting for its report returns first, so this
  // cannot wait on the UI thread.
  void Stop();

  // A tray icon's click, any button: hides a shown window; shows a hidden one beside the
  // taskbar at `at`, unless the window hid itself by losing activation just before (the
  // press on the icon took the activation: the click was meant to close it).
  void TrayClicked(const PopupAnchor& at);
  // Places and shows the window beside the taskbar at `at`.
  void PopUpBeside(const PopupAnchor& at);
  // The window is becoming visible, by PopUpBeside or from outside (placed at the view's
  // default anchor then): loads the printers, shows the dashes and schedules the auth code.
  void Showing();
  // The window lost the activation: it hides, and so does the printer list.
  void Deactivated();
  // Alt+F4, the system's close and minimise: the window only hides.
  void CloseRequested();
  void TimerFired(PopupTimer timer);

  void ChooserClicked();
  // A printer picked in the list.
  void PrinterPicked(const std::string& name);
  void LogoClicked();
  void MenuChosen(PopupMenuCommand command);

  // The cloud poller's reports, on the UI thread (the mailbox's sink hands them over).
  void CloudBusy(bool busy) override;
  void CloudState(bool connected) override;
  bool PollerBusy() const { return pollerBusy_; }

  // A newer version exists: the modal notice, and the download page when chosen.
  void NewVersionOffered();

 private:
  void RefreshAddressLabel();

  PopupView& view_;
  DesktopStartup& startup_;
  DesktopSources sources_;
  Clock clock_;
  std::shared_ptr<UiMailbox> mailbox_;
  CAuthCodeRequests authCodes_;
  std::optional<CStartupMenuState> startupMenu_;  // read when the window is created
  std::optional<CShareMenuState> shareMenu_;      // likewise
  bool started_ = false;
  bool placed_ = false;  // the coming showing was placed by PopUpBeside
  bool pollerBusy_ = false;
  std::optional<std::chrono::steady_clock::time_point> hiddenByDeactivationAt_;
};
