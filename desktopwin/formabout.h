// The About window: the product's picture, name and version. Created once, then shown
// and hidden; closing it hides it. UI thread only.
#pragma once

#include <memory>

#include "desktopwin/window.h"

class TFormAbout : public CWindow {
 public:
  TFormAbout();
  void ShowAbout();

 protected:
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  std::unique_ptr<Gdiplus::Bitmap> Image1;
  FontHandle nameFont_ = TahomaFont(14, true);
  FontHandle font_ = TahomaFont(11);
};
