#include "desktopcore/popupcontroller.h"

#include "base/documenthistory.h"
#include "desktopcore/cloudstatussink.h"
#include "desktopcore/popuplayout.h"
#include "desktopcore/popuptexts.h"
#include "desktopcore/printerchoice.h"
#include "update/updatecheck.h"

PopupController::PopupController(PopupView& view, DesktopStartup& startup, DesktopSources sources,
                                 UiMailbox::UiThreadPoster postToUiThread, Clock clock)
    : view_(view),
      startup_(startup),
      sources_(std::move(sources)),
      clock_(std::move(clock)),
      mailbox_(UiMailbox::Create(std::move(postToUiThread))),
      authCodes_(sources_.authCode, mailbox_) {}

PopupController::~PopupController() { Stop(); }

void PopupController::Start() {
  view_.StartTimer(PopupTimer::AddressRefresh, kRefreshPeriodMs);
  RefreshAddressLabel();
  view_.SetLabel(PopupLabel::Connection, ConnectionLabelText(false));
  SetDocumentListener([mailbox = mailbox_, this](const DocumentRecord& record) {
    if (!record.printed) mailbox->Post([this, record] { view_.ShowNotice(NotPrintedNotice(record)); });
  });
  startupMenu_.emplace();
  view_.SetMenuChecked(PopupMenuCommand::LaunchAtStartup, startupMenu_->Checked());
  shareMenu_.emplace();
  view_.SetMenuChecked(PopupMenuCommand::ShareWithAllPhones, shareMenu_->Checked());
  view_.Hide();
  started_ = true;
  startup_.Start(std::make_shared<UiCloudStatusSink>(mailbox_, *this),
                 [mailbox = mailbox_, this] { mailbox->Post([this] { NewVersionOffered(); }); });
}

void PopupController::Stop() {
  if (!started_) return;
  started_ = false;
  SetDocumentListener(nullptr);
  mailbox_->Close();
  startup_.Stop();
}

void PopupController::TrayClicked(const PopupAnchor& at) {
  if (view_.IsShown()) {
    view_.Hide();
    return;
  }
  if (hiddenByDeactivationAt_ &&
      clock_() - *hiddenByDeactivationAt_ < std::chrono::milliseconds(kTrayClickAfterHideMs)) {
    return;
  }
  PopUpBeside(at);
}

void PopupController::PopUpBeside(const PopupAnchor& at) {
  view_.Place(PlacePopup(at.x, at.y, at.taskbar));
  placed_ = !view_.IsShown();
  view_.Show();
}

void PopupController::Showing() {
  if (!placed_) {
    const PopupAnchor at = view_.DefaultAnchor();
    view_.Place(PlacePopup(at.x, at.y, at.taskbar));
  }
  placed_ = false;
  const PrinterChoice choice = LoadPrinterChoice();
  view_.FillPrinterList(choice.printers);
  view_.SetLabel(PopupLabel::Printer, choice.label);
  authCodes_.NewShowing();
  view_.SetLabel(PopupLabel::AuthCode, AuthCodeLabelText(""));
  view_.StartTimer(PopupTimer::AuthCode, kAuthCodeDelayMs);
}

void PopupController::Deactivated() {
  const bool wasShown = view_.IsShown();
  view_.Hide();
  view_.ShowPrinterList(false);
  // Taken once hidden: hiding may wait for the window manager, and the click that took
  // the activation reaches the tray icon only after that.
  if (wasShown) hiddenByDeactivationAt_ = clock_();
}

void PopupController::CloseRequested() { view_.Hide(); }

void PopupController::TimerFired(PopupTimer timer) {
  switch (timer) {
    case PopupTimer::AddressRefresh:
      if (!view_.IsShown()) return;
      view_.StopTimer(PopupTimer::AddressRefresh);
      RefreshAddressLabel();
      view_.StartTimer(PopupTimer::AddressRefresh, kRefreshPeriodMs);
      return;
    case PopupTimer::AuthCode:
      // Once per showing.
      view_.StopTimer(PopupTimer::AuthCode);
      authCodes_.Request([this](const std::string& text) { view_.SetLabel(PopupLabel::AuthCode, text); });
      return;
  }
}

void PopupController::RefreshAddressLabel() {
  view_.SetLabel(PopupLabel::Addresses, AddressLabelText(sources_.localAddresses()));
}

void PopupController::ChooserClicked() { view_.ShowPrinterList(!view_.IsPrinterListShown()); }

void PopupController::PrinterPicked(const std::string& name) {
  ChoosePrinter(name);
  view_.SetLabel(PopupLabel::Printer, name);
  view_.ShowPrinterList(false);
}

void PopupController::LogoClicked() { view_.OpenUrl(kMakerWebSite); }

void PopupController::MenuChosen(PopupMenuCommand command) {
  switch (command) {
    case PopupMenuCommand::RecentDocuments:
      view_.ShowRecentDocuments();
      return;
    case PopupMenuCommand::About:
      view_.ShowAbout();
      return;
    case PopupMenuCommand::LaunchAtStartup:
      view_.SetMenuChecked(command, startupMenu_->Toggle());
      return;
    case PopupMenuCommand::ShareWithAllPhones:
      view_.SetMenuChecked(command, shareMenu_->Toggle());
      return;
    case PopupMenuCommand::Exit:
      view_.Hide();
      view_.Quit();
      return;
  }
}

void PopupController::CloudBusy(bool busy) { pollerBusy_ = busy; }

void PopupController::CloudState(bool connected) {
  view_.SetLabel(PopupLabel::Connection, ConnectionLabelText(connected));
}

void PopupController::NewVersionOffered() {
  if (view_.AskNewVersion()) view_.OpenUrl(GetDownloadPageUrl());
}
