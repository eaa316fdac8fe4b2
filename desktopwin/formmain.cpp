#include "desktopwin/formmain.h"

#include <shellapi.h>

#include "desktopcore/popuplayout.h"
#include "desktopcore/popuptexts.h"
#include "desktopwin/artworkids.h"
#include "platform/win/mainwindow.h"
#include "platform/win/widetext.h"

namespace {

constexpr COLORREF kTransparent = RGB(192, 220, 192);  // the colour key: these pixels are see-through
constexpr COLORREF kSilver = RGB(192, 192, 192);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kRunQueuedWork = WM_APP + 2;
constexpr UINT kTrayIconId = 1;
constexpr UINT_PTR kRefreshTimer = 1224;
constexpr UINT_PTR kAuthCodeTimer = 1;
constexpr RECT kChooser = BoxRect(kPopup.chooser);
constexpr RECT kLogo = BoxRect(kPopup.logo);
constexpr RECT kSettings = BoxRect(kPopup.settings);

UINT_PTR TimerId(PopupTimer timer) { return timer == PopupTimer::AuthCode ? kAuthCodeTimer : kRefreshTimer; }

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

// A label that grows downward with its lines, as far as the window's bottom.
RECT GrowingBox(const LayoutBox& box) { return {box.left, box.top, box.Right(), kPopup.window.height}; }

HICON IconOf(Gdiplus::Bitmap* picture) {
  HICON icon = nullptr;
  if (picture) picture->GetHICON(&icon);
  return icon;
}

NOTIFYICONDATAW TrayIconData(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = kTrayIconId;
  return data;
}

}  // namespace

TFormMain::TFormMain(DesktopStartup& startup, DesktopSources sources)
    : controller_(*this, startup, std::move(sources),
                  [this](std::function<void()> work) { PostToUiThread(std::move(work)); }),
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
      trayIcon_(IconOf(LoadArtwork(OLVARO_ART_TRAY).get())) {
  Create(kMainWindowClass, kProductName, WS_POPUP | WS_CLIPCHILDREN, WS_EX_TOPMOST | WS_EX_LAYERED | WS_EX_TOOLWINDOW,
         kPopup.window.width, kPopup.window.height);
  SetLayeredWindowAttributes(Handle(), kTransparent, 0, LWA_COLORKEY);
  const LayoutBox& list = kPopup.printerList;
  printerListBox = CreateWindowExW(
      0, L"LISTBOX", nullptr, WS_CHILD | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS, list.left,
      list.top, list.width, list.height, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(printerListBox, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_.get()), FALSE);
  SendMessageW(printerListBox, LB_SETITEMHEIGHT, 0, kPopup.printerListItemHeight);
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  AddTrayIcon();
  controller_.Start();
}

TFormMain::~TFormMain() {
  if (Handle()) DestroyWindow(Handle());
  if (trayIcon_) DestroyIcon(trayIcon_);
}

void TFormMain::FormDestroy() {
  // Reports and answers still on their way must find the window gone; a poller waiting
  // for its report to be taken returns, so stopping it cannot wait on this thread.
  controller_.Stop();
  {
    std::lock_guard lock(queueMutex_);
    queue_.clear();
  }
  KillTimer(Handle(), kRefreshTimer);
  KillTimer(Handle(), kAuthCodeTimer);
  NOTIFYICONDATAW data = TrayIconData(Handle());
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void TFormMain::AddTrayIcon() {
  NOTIFYICONDATAW data = TrayIconData(Handle());
  data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = trayIcon_;
  ToWide(kProductName).copy(data.szTip, std::size(data.szTip) - 1);
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

bool TFormMain::IsShown() const { return IsWindowVisible(Handle()); }

void TFormMain::Place(const PopupPlacement& placement) {
  placement_ = placement;
  SetWindowPos(Handle(), nullptr, placement.left, placement.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TFormMain::Show() {
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
}

void TFormMain::Hide() { ShowWindow(Handle(), SW_HIDE); }

PopupAnchor TFormMain::DefaultAnchor() const {
  POINT pointer{};
  GetCursorPos(&pointer);
  return {pointer.x, pointer.y, TaskbarFromShell(pointer)};
}

void TFormMain::SetLabel(PopupLabel label, const std::string& text) {
  switch (label) {
    case PopupLabel::Printer:
      printerListLabel = text;
      break;
    case PopupLabel::Addresses:
      LabelIP1 = text;
      break;
    case PopupLabel::AuthCode:
      LabelAuthCode = text;
      break;
    case PopupLabel::Connection:
      LabelConnected = text;
      return;  // never drawn
  }
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TFormMain::FillPrinterList(const std::vector<std::string>& printers) {
  SendMessageW(printerListBox, LB_RESETCONTENT, 0, 0);
  for (const std::string& name : printers) {
    SendMessageW(printerListBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ToWide(name).c_str()));
  }
}

bool TFormMain::IsPrinterListShown() const { return (GetWindowLongW(printerListBox, GWL_STYLE) & WS_VISIBLE) != 0; }

void TFormMain::ShowPrinterList(bool shown) {
  if (shown) SendMessageW(printerListBox, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  ShowWindow(printerListBox, shown ? SW_SHOW : SW_HIDE);
}

void TFormMain::StartTimer(PopupTimer timer, int milliseconds) {
  SetTimer(Handle(), TimerId(timer), static_cast<UINT>(milliseconds), nullptr);
}

void TFormMain::StopTimer(PopupTimer timer) { KillTimer(Handle(), TimerId(timer)); }

void TFormMain::SetMenuChecked(PopupMenuCommand command, bool checked) { menuChecked_[command] = checked; }

void TFormMain::ShowNotice(const std::string& text) {
  NOTIFYICONDATAW data = TrayIconData(Handle());
  data.uFlags = NIF_INFO;
  data.dwInfoFlags = NIIF_WARNING;
  ToWide(kProductName).copy(data.szInfoTitle, std::size(data.szInfoTitle) - 1);
  ToWide(text).copy(data.szInfo, std::size(data.szInfo) - 1);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

bool TFormMain::AskNewVersion() {
  // The notice must not hide behind the always-on-top pop-up.
  SetWindowPos(Handle(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  const int result = FormNewVersion.ShowModal();
  SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return result == IDOK;
}

void TFormMain::ShowAbout() { FormAbout.ShowAbout(); }

void TFormMain::ShowRecentDocuments() { FormRecentDocuments.ShowRecentDocuments(); }

void TFormMain::OpenUrl(const std::string& url) {
  ShellExecuteW(Handle(), L"open", ToWide(url).c_str(), L"", L"", SW_SHOWNORMAL);
}

void TFormMain::Quit() { DestroyWindow(Handle()); }

void TFormMain::FormPaint(HDC dc, Gdiplus::Graphics& graphics) {
  // Where the window belongs, whatever moved it.
  RECT frame{};
  GetWindowRect(Handle(), &frame);
  if (frame.left != placement_.left || frame.top != placement_.top) {
    SetWindowPos(Handle(), nullptr, placement_.left, placement_.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const RECT all = BoxRect(kPopup.window);
  const HBRUSH key = CreateSolidBrush(kTransparent);
  FillRect(dc, &all, key);
  DeleteObject(key);

  const auto draw = [&graphics](const std::unique_ptr<Gdiplus::Bitmap>& picture, int x, int y) {
    DrawPicture(graphics, picture.get(), x, y);
  };
  draw(bgImage, kPopup.background.left, kPopup.background.top);
  draw(chooserPressed_ ? imgBtnPushed : imgBtn, kPopup.chooser.left, kPopup.chooser.top);
  draw(Image4, kPopup.triangle.left, kPopup.triangle.top);
  draw(Image3, kPopup.bottomBar.left, kPopup.bottomBar.top);
  draw(vostrelIcon, kPopup.logo.left, kPopup.logo.top);
  draw(settingsIcon, kPopup.settings.left, kPopup.settings.top);
  switch (placement_.arrow) {
    case TaskbarEdge::Left:
      draw(arrowLeftImage, kPopup.arrowLeft.left, placement_.verticalArrowTop);
      break;
    case TaskbarEdge::Top:
      draw(arrowTopImage, placement_.horizontalArrowLeft, kPopup.arrowTop.top);
      break;
    case TaskbarEdge::Right:
      draw(arrowRightImage, kPopup.arrowRight.left, placement_.verticalArrowTop);
      break;
    case TaskbarEdge::Bottom:
      draw(arrowBottomImage, placement_.horizontalArrowLeft, kPopup.arrowBottom.top);
      break;
    default:
      break;
  }

  // The texts go over every picture: address lines past the second run over the bottom bar.
  DrawLabel(dc, kProductName, nameFont_.get(), kWhite, BoxRect(kPopup.name), DT_CENTER | DT_SINGLELINE);
  DrawLabel(dc, printerListLabel, printerFont_.get(), kWhite, BoxRect(kPopup.printerLabel),
            DT_SINGLELINE | DT_END_ELLIPSIS);
  DrawLabel(dc, kAddressCaption, labelFont_.get(), kSilver, BoxRect(kPopup.addressCaption), DT_SINGLELINE | DT_NOCLIP);
  DrawLabel(dc, LabelIP1, labelFont_.get(), kWhite, GrowingBox(kPopup.addresses), DT_WORDBREAK | DT_NOCLIP);
  DrawLabel(dc, kAuthCodeCaption, labelFont_.get(), kSilver, BoxRect(kPopup.authCodeCaption),
            DT_SINGLELINE | DT_NOCLIP);
  DrawLabel(dc, LabelAuthCode, labelFont_.get(), kWhite, GrowingBox(kPopup.authCode), DT_WORDBREAK | DT_NOCLIP);
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
  const bool pressed = ChooserPressedAt(at.x - kChooser.left, at.y - kChooser.top);
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
    if (chooserClick) controller_.ChooserClicked();
    return;
  }
  logoPressed_ = false;
  if (logoClick) controller_.LogoClicked();
  if (Inside(kSettings, at)) settingsIconMouseUp();
}

void TFormMain::printerListBoxClick() {
  const LRESULT index = SendMessageW(printerListBox, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return;
  std::wstring name(static_cast<size_t>(SendMessageW(printerListBox, LB_GETTEXTLEN, index, 0)), L'\0');
  SendMessageW(printerListBox, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name.data()));
  controller_.PrinterPicked(ToUtf8(name));
}

void TFormMain::settingsIconMouseUp() {
  const std::vector<PopupMenuEntry>& entries = PopupMenuEntries();
  const HMENU menu = CreatePopupMenu();
  for (size_t i = 0; i < entries.size(); ++i) {
    const bool checked = entries[i].checkable && menuChecked_[entries[i].command];
    AppendMenuW(menu, MF_STRING | (checked ? MF_CHECKED : MF_UNCHECKED), i + 1, ToWide(entries[i].text).c_str());
  }
  POINT pointer{};
  GetCursorPos(&pointer);
  const int chosen = static_cast<int>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, pointer.x, pointer.y, 0, Handle(), nullptr));
  DestroyMenu(menu);
  if (chosen > 0) controller_.MenuChosen(entries[static_cast<size_t>(chosen) - 1].command);
}

LRESULT TFormMain::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (message) {
    case kTrayMessage:
      if (lParam == WM_LBUTTONUP || lParam == WM_RBUTTONUP || lParam == WM_MBUTTONUP) {
        controller_.TrayClicked(DefaultAnchor());
      }
      return 0;
    case kRunQueuedWork:
      RunQueuedWork();
      return 0;
    case WM_CLOUD_BUSY:
      controller_.CloudBusy(wParam != 0);
      return 0;
    case WM_CLOUD_STATE:
      controller_.CloudState(wParam == 1);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) break;
      controller_.Deactivated();
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != SC_MINIMIZE && (wParam & 0xFFF0) != SC_CLOSE) break;
      controller_.CloseRequested();
      return 0;
    case WM_CLOSE:
      // Only from outside (Alt+F4 arrives as SC_CLOSE above): the program ends.
      controller_.MenuChosen(PopupMenuCommand::Exit);
      return 0;
    case WM_DESTROY:
      FormDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_TIMER:
      controller_.TimerFired(wParam == kAuthCodeTimer ? PopupTimer::AuthCode : PopupTimer::AddressRefresh);
      return 0;
    case WM_SHOWWINDOW:
      if (wParam) controller_.Showing();
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
