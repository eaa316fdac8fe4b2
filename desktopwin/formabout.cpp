#include "desktopwin/formabout.h"

#include "desktopcore/popuptexts.h"
#include "desktopwin/artworkids.h"

TFormAbout::TFormAbout() : Image1(LoadArtwork(OLVARO_ART_ABOUT)) {
  Create(L"OlvaroDesktopAbout", "About", WS_CAPTION | WS_SYSMENU, WS_EX_TOOLWINDOW, kAbout.window.width,
         kAbout.window.height);
}

void TFormAbout::ShowAbout() { ShowCentred(Handle()); }

LRESULT TFormAbout::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintBuffered(Handle(), [this](HDC dc, Gdiplus::Graphics& graphics) {
        const RECT client = BoxRect(kAbout.window);
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        DrawPicture(graphics, Image1.get(), kAbout.picture.left, kAbout.picture.top);
        const COLORREF text = GetSysColor(COLOR_BTNTEXT);
        DrawLabel(dc, kProductName, nameFont_.get(), text, BoxRect(kAbout.name), DT_SINGLELINE | DT_NOCLIP);
        DrawLabel(dc, AboutVersionText(), font_.get(), text, BoxRect(kAbout.version), DT_CENTER | DT_SINGLELINE);
      });
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE:
      ShowWindow(Handle(), SW_HIDE);
      return 0;
    default:
      return CWindow::Dispatch(message, wParam, lParam);
  }
}
