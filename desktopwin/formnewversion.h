// The new-version notice: "Download" or "Remind Me Later", shown modally. UI thread only.
#pragma once

#include <memory>

#include "desktopwin/window.h"

class TFormNewVersion : public CWindow {
 public:
  TFormNewVersion();
  // Shows the notice and waits for the answer: IDOK for "Download", IDCANCEL otherwise
  // (also when the window is closed or the program ends meanwhile).
  int ShowModal();

 protected:
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HWND AddChild(const wchar_t* kind, const std::string& text, DWORD style, int id, RECT box);

  std::unique_ptr<Gdiplus::Bitmap> Image1;
  FontHandle font_ = TahomaFont(11);
  int modalResult_ = 0;
};
