#include "desktopwin/formnewversion.h"

#include "desktopcore/popuptexts.h"
#include "desktopwin/artworkids.h"
#include "platform/win/widetext.h"

TFormNewVersion::TFormNewVersion() : Image1(LoadArtwork(OLVARO_ART_ABOUT)) {
  Create(L"OlvaroDesktopNewVersion", kProductName, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, kNewVersion.window.width,
         kNewVersion.window.height);
  AddChild(L"STATIC", kNewVersionMessage, SS_LEFT, -1, BoxRect(kNewVersion.message));
  AddChild(L"BUTTON", kNewVersionDownload, BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, BoxRect(kNewVersion.download));
  AddChild(L"BUTTON", kNewVersionLater, BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, BoxRect(kNewVersion.later));
}

HWND TFormNewVersion::AddChild(const wchar_t* kind, const std::string& text, DWORD style, int id, RECT box) {
  const HWND child =
      CreateWindowExW(0, kind, ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, box.left, box.top,
                      box.right - box.left, box.bottom - box.top, Handle(),
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  return child;
}

int TFormNewVersion::ShowModal() {
  modalResult_ = 0;
  ShowCentred(Handle());
  MSG message;
  while (!modalResult_) {
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
      // The program is ending: the loop that waits for the quit message must see it too.
      PostQuitMessage(static_cast<int>(message.wParam));
      modalResult_ = IDCANCEL;
      break;
    }
    if (IsDialogMessageW(Handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  ShowWindow(Handle(), SW_HIDE);
  return modalResult_;
}

LRESULT TFormNewVersion::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) modalResult_ = LOWORD(wParam);
      return 0;
    case WM_CLOSE:
      modalResult_ = IDCANCEL;
      return 0;
    case WM_PAINT:
      PaintBuffered(Handle(), [this](HDC dc, Gdiplus::Graphics& graphics) {
        RECT client;
        GetClientRect(Handle(), &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        if (Image1) {
          const LayoutBox& icon = kNewVersion.icon;
          graphics.DrawImage(Image1.get(), icon.left, icon.top, icon.width, icon.height);
        }
      });
      return 0;
    case WM_ERASEBKGND:
      return 1;
    default:
      return CWindow::Dispatch(message, wParam, lParam);
  }
}
