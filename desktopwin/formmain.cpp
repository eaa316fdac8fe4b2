#include "desktopwin/formmain.h"

#include <shellapi.h>

#include "desktopcore/cloudstatussink.h"
#include "desktopcore/popuplayout.h"
#include "desktopcore/popuptexts.h"
#include "desktopcore/printerchoice.h"
#include "desktopwin/artworkids.h"
#include "platform/win/mainwindow.h"
#include "platform/win/widetext.h"
#include "update/updatecheck.h"

namespace {

constexpr COLORREF kTransparent = RGB(192, 220, 192);  // the colour key: these pixels are see-through
constexpr COLORREF kSilver = RGB(192, 192, 192);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kRunQueuedWork = WM_APP + 2;
constexpr UINT kTrayIconId = 1;
constexpr UINT_PTR kRefreshTimer = 1224;
constexpr UINT_PTR kAuthCodeTimer = 1;
constexpr RECT kChooser{kChooserLeft, kChooserTop, kChooserLeft + kChooserWidth, kChooserTop + kChooserHeight};
constexpr RECT kLogo{26, 139, 26 + 22, 139 + 23};
constexpr RECT kSettings{284, 139, 284 + 22, 139 + 23};

// The taskbar as the shell reports it; when it does not, the panels' strip of the
// pointer's screen, as the work area shows it.
TaskbarPosition TaskbarFromShell(POINT pointer) {
  APPBARDATA data{};
  data.cbSize = sizeof data;
  if (SHAppBarMessage(ABM_GETTASKBARPOS, &data)) {
    return {{data.rc.left, data.rc.top, data.rc.right, data.rc.bottom}, static_cast<TaskbarEdge>(data.uEdge)};
  }
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& m = monitor.rcMonitor;
  const RECT& w = monitor.rcWork;
  return DeriveTaskbar({m.left, m.top, m.right, m.bottom}, {w.left, w.top, w.right, w.bottom}, std::nullopt);
}

bool Inside(const RECT& box, POINT at) { return PtInRect(&box, at) != FALSE; }

HICON IconOf(Gdiplus::Bitmap* picture) {
  HICON icon = nullptr;
  if (picture) picture->GetHICON(&icon);
  return icon;
}

}  // namespace

TFormMain::TFormMain(DesktopStartup& startup, DesktopSources sources)
    : startup_(startup),
      sources_(std::move(sources)),
      mailbox_(UiMailbox::Create([this](std::function<void()> work) { PostToUiThread(std::move(work)); })),
      authCodes_(sources_.authCode, mailbox_),
      bgImage(LoadArtwork(OLVARO_ART_BACKGROUND)),
      imgBtn(LoadArtwork(OLVARO_ART_CHOOSER)),
      imgBtnPushed(LoadArtwork(OLVARO_ART_CHOOSER_PUSHED)),
      Image4(LoadArtwork(OLVARO_ART_TRIANGLE)),
      Image3(LoadArtwork(OLVARO_ART_BOTTOMBAR)),
      vostrelIcon(LoadArtwork(OLVARO_ART_LOGO)),
      settingsIcon(LoadArtwork(OLVARO_ART_SETTINGS)),
      arrowTopImage(LoadArtwork(OLVARO_ART_ARROW_TOP)),
      arrowLeftImage(LoadArtwork(OLVARO_ART_ARROW_LEFT)),
      arrowRightImage(LoadArtwork(OLVARO_ART_ARROW_RIGHT)),
      arrowBottomImage(LoadArtwork(OLVARO_ART_ARROW_BOTTOM)),
      trayIcon_(IconOf(LoadArtwork(OLVARO_ART_TRAY).get())),
      LabelConnected(ConnectionLabelText(false)) {
  Create(kMainWindowClass, kProductName, WS_POPUP | WS_CLIPCHILDREN,
         WS_EX_TOPMOST | WS_EX_LAYERED | WS_EX_TOOLWINDOW, kPopupWidth, kPopupHeight);
  SetLayeredWindowAttributes(Handle(), kTransparent, 0, LWA_COLORKEY);
  printerListBox = CreateWindowExW(0, L"LISTBOX", nullptr,
                                   WS_CHILD | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS, 0,
                                   0, 277, 69, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(printerListBox, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_.get()), FALSE);
  SendMessageW(printerListBox, LB_SETITEMHEIGHT, 0, 13);
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  AddTrayIcon();
  FormCreate();
}

TFormMain::~TFormMain() {
  if (Handle()) DestroyWindow(Handle());
  if (trayIcon_) DestroyIcon(trayIcon_);
}

void TFormMain::FormCreate() {
  SetWindowPos(printerListBox, nullptr, kChooserLeft + 2, kChooserTop + 33, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  refreshTimerId = SetTimer(Handle(), kRefreshTimer, kRefreshPeriodMs, nullptr);
  RefreshAddressLabel();
  startupMenu_.emplace();
  ShowWindow(Handle(), SW_HIDE);
  startup_.Start(std::make_shared<UiCloudStatusSink>(mailbox_, *this), [mailbox = mailbox_, this] {
    mailbox->Post([this] { ShowNewVersionNotice(); });
  });
}

void TFormMain::FormDestroy() {
  // Reports and answers still on their way must find the window gone; a poller waiting
  // for its report to be taken returns, so stopping it below cannot wait on this thread.
  mailbox_->Close();
  {
    std::lock_guard lock(queueMutex_);
    queue_.clear();
  }
  KillTimer(Handle(), kRefreshTimer);
  KillTimer(Handle(), kAuthCodeTimer);
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = Handle();
  data.uID = kTrayIconId;
  Shell_NotifyIconW(NIM_DELETE, &data);
  startup_.Stop();
}

void TFormMain::AddTrayIcon() {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = Handle();
  data.uID = kTrayIconId;
  data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = trayIcon_;
  const std::wstring tip = ToWide(kProductName);
  tip.copy(data.szTip, std::size(data.szTip) - 1);
  Shell_NotifyIconW(NIM_ADD, &data);
}

void TFormMain::PostToUiThread(std::function<void()> work) {
  {
    std::lock_guard lock(queueMutex_);
    queue_.push_back(std::move(work));
  }
  PostMessageW(Handle(), kRunQueuedWork, 0, 0);
}

void TFormMain::RunQueuedWork() {
  // One piece per wake-up: the work may run a modal loop that handles the next wake-up.
  std::function<void()> work;
  {
    std::lock_guard lock(queueMutex_);
    if (queue_.empty()) return;
    work = std::move(queue_.front());
    queue_.pop_front();
  }
  work();
}

void TFormMain::TrayIcon1MouseUp() {
  if (IsWindowVisible(Handle())) {
    ShowWindow(Handle(), SW_HIDE);
    return;
  }
  // The press on the icon activated the taskbar, which hid the window a moment ago: this
  // click was meant to close it, not to open it again.
  if (GetTickCount64() - hiddenByDeactivationAt_ < GetDoubleClickTime()) return;
  POINT pointer{};
  GetCursorPos(&pointer);
  PlaceBesideTaskbar(pointer);
  placed_ = true;
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
}

void TFormMain::PlaceBesideTaskbar(POINT pointer) {
  placement_ = PlacePopup(pointer.x, pointer.y, TaskbarFromShell(pointer));
  popupLeft = placement_.left;
  popupTop = placement_.top;
}

void TFormMain::FormShow() {
  SetWindowPos(Handle(), nullptr, popupLeft, popupTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const PrinterChoice choice = LoadPrinterChoice();
  SendMessageW(printerListBox, LB_RESETCONTENT, 0, 0);
  for (const std::string& name : choice.printers) {
    SendMessageW(printerListBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ToWide(name).c_str()));
  }
  printerListLabel = choice.label;
  authCodes_.NewShowing();
  SetLabel(LabelAuthCode, AuthCodeLabelText(""));
  SetTimer(Handle(), kAuthCodeTimer, kAuthCodeDelayMs, nullptr);
}

void TFormMain::FormPaint(HDC dc, Gdiplus::Graphics& graphics) {
  // Where the window belongs, whatever moved it.
  RECT frame{};
  GetWindowRect(Handle(), &frame);
  if (frame.left != popupLeft || frame.top != popupTop) {
    SetWindowPos(Handle(), nullptr, popupLeft, popupTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const RECT all{0, 0, kPopupWidth, kPopupHeight};
  const HBRUSH key = CreateSolidBrush(kTransparent);
  FillRect(dc, &all, key);
  DeleteObject(key);

  DrawPicture(graphics, bgImage.get(), 16, 18);
  DrawPicture(graphics, (chooserPressed_ ? imgBtnPushed : imgBtn).get(), kChooserLeft, kChooserTop);
  DrawPicture(graphics, Image4.get(), 285, 71);
  DrawPicture(graphics, Image3.get(), 26, 130);
  DrawPicture(graphics, vostrelIcon.get(), kLogo.left, kLogo.top);
  DrawPicture(graphics, settingsIcon.get(), kSettings.left, kSettings.top);
  switch (placement_.arrow) {
    case TaskbarEdge::Left: DrawPicture(graphics, arrowLeftImage.get(), -1, placement_.verticalArrowTop); break;
    case TaskbarEdge::Top: DrawPicture(graphics, arrowTopImage.get(), placement_.horizontalArrowLeft, 1); break;
    case TaskbarEdge::Right: DrawPicture(graphics, arrowRightImage.get(), 316, placement_.verticalArrowTop); break;
    case TaskbarEdge::Bottom: DrawPicture(graphics, arrowBottomImage.get(), placement_.horizontalArrowLeft, 168); break;
    default: break;
  }

  // The texts go over every picture: address lines past the second run over the bottom bar.
  DrawLabel(dc, kProductName, nameFont_.get(), kWhite, {16, 33, 16 + 300, 33 + 19}, DT_CENTER | DT_SINGLELINE);
  DrawLabel(dc, printerListLabel, printerFont_.get(), kWhite, {37, 71, 37 + 242, 71 + 16},
            DT_SINGLELINE | DT_END_ELLIPSIS);
  DrawLabel(dc, kAddressCaption, labelFont_.get(), kSilver, {29, 107, 52, 130}, DT_SINGLELINE | DT_NOCLIP);
  DrawLabel(dc, LabelIP1, labelFont_.get(), kWhite, {52, 107, 52 + 108, kPopupHeight}, DT_WORDBREAK | DT_NOCLIP);
  DrawLabel(dc, kAuthCodeCaption, labelFont_.get(), kSilver, {180, 107, 250, 130}, DT_SINGLELINE | DT_NOCLIP);
  DrawLabel(dc, LabelAuthCode, labelFont_.get(), kWhite, {250, 107, 250 + 50, kPopupHeight},
            DT_WORDBREAK | DT_NOCLIP);
}

void TFormMain::FormDeactivate() {
  const bool wasVisible = IsWindowVisible(Handle());
  ShowWindow(Handle(), SW_HIDE);
  ShowWindow(printerListBox, SW_HIDE);
  // Taken once hidden: hiding may wait for the window manager, and the click that took
  // the activation reaches the tray icon only after that.
  if (wasVisible) hiddenByDeactivationAt_ = GetTickCount64();
}

void TFormMain::FormClose() { ShowWindow(Handle(), SW_HIDE); }

void TFormMain::SetLabel(std::string& label, std::string text) {
  label = std::move(text);
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TFormMain::RefreshAddressLabel() { SetLabel(LabelIP1, AddressLabelText(sources_.localAddresses())); }

void TFormMain::TimerUpdateAuthCodeTimer() {
  KillTimer(Handle(), kAuthCodeTimer);
  authCodes_.Request([this](const std::string& text) { SetLabel(LabelAuthCode, text); });
}

// The chooser's picture, its label and its triangle act as one button.
void TFormMain::MouseDown(POINT at, bool left) {
  if (Inside(kChooser, at)) {
    chooserPressed_ = true;
    chooserTracking_ = left;
    if (left) SetCapture(Handle());
    InvalidateRect(Handle(), &kChooser, FALSE);
  } else if (left && Inside(kLogo, at)) {
    logoPressed_ = true;
    SetCapture(Handle());
  }
}

void TFormMain::MouseMove(POINT at) {
  if (!chooserTracking_) return;
  const bool pressed = ChooserPressedAt(at.x - kChooserLeft, at.y - kChooserTop);
  if (pressed == chooserPressed_) return;
  chooserPressed_ = pressed;
  InvalidateRect(Handle(), &kChooser, FALSE);
}

void TFormMain::MouseUp(POINT at) {
  const bool chooserClick = chooserTracking_ && Inside(kChooser, at);
  const bool logoClick = logoPressed_ && Inside(kLogo, at);
  if (GetCapture() == Handle()) ReleaseCapture();
  if (chooserPressed_ || chooserTracking_) {
    chooserPressed_ = chooserTracking_ = false;
    InvalidateRect(Handle(), &kChooser, FALSE);
    if (chooserClick) {
      const bool open = IsWindowVisible(printerListBox);
      // Nothing selected, so that every pick is a change of selection.
      if (!open) SendMessageW(printerListBox, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
      ShowWindow(printerListBox, open ? SW_HIDE : SW_SHOW);
    }
    return;
  }
  logoPressed_ = false;
  if (logoClick) vostrelIconClick();
  if (Inside(kSettings, at)) settingsIconMouseUp();
}

void TFormMain::printerListBoxClick() {
  const LRESULT index = SendMessageW(printerListBox, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return;
  std::wstring name(static_cast<size_t>(SendMessageW(printerListBox, LB_GETTEXTLEN, index, 0)), L'\0');
  SendMessageW(printerListBox, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name.data()));
  ChoosePrinter(ToUtf8(name));
  SetLabel(printerListLabel, ToUtf8(name));
  ShowWindow(printerListBox, SW_HIDE);
}

void TFormMain::settingsIconMouseUp() {
  const std::vector<PopupMenuEntry>& entries = PopupMenuEntries();
  const HMENU menu = CreatePopupMenu();
  for (size_t i = 0; i < entries.size(); ++i) {
    const bool checked = entries[i].checkable && startupMenu_->Checked();
    AppendMenuW(menu, MF_STRING | (checked ? MF_CHECKED : MF_UNCHECKED), i + 1, ToWide(entries[i].text).c_str());
  }
  POINT pointer{};
  GetCursorPos(&pointer);
  const int chosen = static_cast<int>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, pointer.x, pointer.y, 0, Handle(), nullptr));
  DestroyMenu(menu);
  if (chosen > 0) MenuCommand(entries[static_cast<size_t>(chosen) - 1].command);
}

void TFormMain::MenuCommand(PopupMenuCommand command) {
  switch (command) {
    case PopupMenuCommand::RecentDocuments: FormRecentDocuments.ShowRecentDocuments(); break;
    case PopupMenuCommand::About: FormAbout.ShowAbout(); break;
    case PopupMenuCommand::LaunchAtStartup: startupMenu_->Toggle(); break;
    case PopupMenuCommand::Exit: MenuExitClick(); break;
  }
}

void TFormMain::vostrelIconClick() {
  ShellExecuteW(Handle(), L"open", ToWide(kMakerWebSite).c_str(), L"", L"", SW_SHOWNORMAL);
}

void TFormMain::MenuExitClick() {
  FormClose();
  DestroyWindow(Handle());
}

void TFormMain::CloudBusy(bool busy) { pollerBusy = busy; }

void TFormMain::CloudState(bool connected) { LabelConnected = ConnectionLabelText(connected); }

void TFormMain::ShowNewVersionNotice() {
  // The notice must not hide behind the always-on-top pop-up.
  SetWindowPos(Handle(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  const int result = FormNewVersion.ShowModal();
  SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (result == IDOK) {
    ShellExecuteW(nullptr, L"open", ToWide(GetDownloadPageUrl()).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
}

LRESULT TFormMain::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (message) {
    case kTrayMessage:
      if (lParam == WM_LBUTTONUP || lParam == WM_RBUTTONUP || lParam == WM_MBUTTONUP) TrayIcon1MouseUp();
      return 0;
    case kRunQueuedWork:
      RunQueuedWork();
      return 0;
    case WM_CLOUD_BUSY:
      CloudBusy(wParam != 0);
      return 0;
    case WM_CLOUD_STATE:
      CloudState(wParam == 1);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) break;
      FormDeactivate();
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != SC_MINIMIZE && (wParam & 0xFFF0) != SC_CLOSE) break;
      FormClose();
      return 0;
    case WM_CLOSE:
      // Only from outside (Alt+F4 arrives as SC_CLOSE above): the program ends.
      MenuExitClick();
      return 0;
    case WM_DESTROY:
      FormDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_TIMER:
      if (wParam == kAuthCodeTimer) {
        TimerUpdateAuthCodeTimer();
      } else if (wParam == refreshTimerId && IsWindowVisible(Handle())) {
        KillTimer(Handle(), refreshTimerId);
        RefreshAddressLabel();
        refreshTimerId = SetTimer(Handle(), kRefreshTimer, kRefreshPeriodMs, nullptr);
      }
      return 0;
    case WM_SHOWWINDOW:
      if (!wParam) break;
      // A showing that no tray click placed (a later start asked for the window) goes
      // where the pointer is.
      if (!placed_) {
        POINT pointer{};
        GetCursorPos(&pointer);
        PlaceBesideTaskbar(pointer);
      }
      placed_ = false;
      FormShow();
      break;
    case WM_PAINT:
      PaintBuffered(Handle(), [this](HDC dc, Gdiplus::Graphics& graphics) { FormPaint(dc, graphics); });
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      MouseDown(at, message == WM_LBUTTONDOWN);
      return 0;
    case WM_MOUSEMOVE:
      MouseMove(at);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      MouseUp(at);
      return 0;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lParam) == printerListBox && HIWORD(wParam) == LBN_SELCHANGE) printerListBoxClick();
      return 0;
    default:
      if (message == taskbarCreated_ && taskbarCreated_) AddTrayIcon();
      break;
  }
  return CWindow::Dispatch(message, wParam, lParam);
}
