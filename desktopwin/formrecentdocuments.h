// The "Recent documents" window: one line a document, newest first as the history keeps
// them. Created once, then shown and hidden; closing it hides it. UI thread only.
#pragma once

#include "desktopwin/window.h"

class TFormRecentDocuments : public CWindow {
 public:
  TFormRecentDocuments();
  // Fills the list afresh and shows the window.
  void ShowRecentDocuments();

 protected:
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HWND documentList = nullptr;
  FontHandle font_ = TahomaFont(11);
};
