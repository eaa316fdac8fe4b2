#include "desktopwin/formabout.h"

#include "desktopcore/popuptexts.h"
#include "desktopwin/artworkids.h"

TFormAbout::TFormAbout() : Image1(LoadArtwork(OLVARO_ART_ABOUT)) {
  Create(L"OlvaroDesktopAbout", "About", WS_CAPTION | WS_SYSMENU, WS_EX_TOOLWINDOW, 272, 130);
}

void TFormAbout::ShowAbout() { ShowCentred(Handle()); }

LRESULT TFormAbout::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintBuffered(Handle(), [this](HDC dc, Gdiplus::Graphics& graphics) {
        RECT client{0, 0, 272, 130};
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        DrawPicture(graphics, Image1.get(), 112, 16);
        const COLORREF text = GetSysColor(COLOR_BTNTEXT);
        DrawLabel(dc, kProductName, nameFont_.get(), text, {69, 78, 272, 100}, DT_SINGLELINE | DT_NOCLIP);
        DrawLabel(dc, AboutVersionText(), font_.get(), text, {69, 101, 69 + 136, 130}, DT_CENTER | DT_SINGLELINE);
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
