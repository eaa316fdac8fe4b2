// Where every part of the desktop's windows sits, and the pop-up's timing: one table that
// every face draws from and the tray tests click by. Coordinates are client coordinates.
// Constant data; usable from any thread.
#pragma once

#include "desktopcore/placement.h"

// A part's place: left and top, width and height.
struct LayoutBox {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;

  constexpr int Right() const { return left + width; }
  constexpr int Bottom() const { return top + height; }
  constexpr int CentreX() const { return left + width / 2; }
  constexpr int CentreY() const { return top + height / 2; }
  // Whether x, y is inside; the right and bottom edges count as outside.
  constexpr bool Contains(int x, int y) const { return x >= left && x < Right() && y >= top && y < Bottom(); }
};

// The pop-up's parts. Pictures have the size of their artwork; labels that grow with their
// text have the height of one line here.
struct PopupLayout {
  LayoutBox window{0, 0, kPopupWidth, kPopupHeight};
  LayoutBox background{16, 18, 300, 151};
  LayoutBox name{16, 33, 300, 19};
  LayoutBox chooser{26, 63, 280, 33};
  LayoutBox printerLabel{37, 71, 242, 16};
  LayoutBox triangle{285, 71, 7, 17};
  LayoutBox printerList{28, 96, 277, 69};
  int printerListItemHeight = 13;
  LayoutBox addressCaption{29, 107, 23, 16};
  LayoutBox addresses{52, 107, 108, 16};
  LayoutBox authCodeCaption{180, 107, 70, 16};
  LayoutBox authCode{250, 107, 50, 16};
  int authCodeMaxWidth = 56;  // a wider font than Tahoma may take the room up to the chooser's end
  LayoutBox bottomBar{26, 130, 280, 33};
  LayoutBox logo{26, 139, 22, 23};
  LayoutBox settings{284, 139, 22, 23};
  // The arrows' left (top and bottom arrows) or top (side arrows) follow the pointer.
  LayoutBox arrowTop{148, 1, kArrowTopWidth, 19};
  LayoutBox arrowLeft{-1, 38, 17, kArrowLeftHeight};
  LayoutBox arrowRight{316, 88, 17, kArrowLeftHeight};
  LayoutBox arrowBottom{244, 168, 36, 17};

  // The printer list's item `index` (from 0), with the list scrolled to its top.
  constexpr LayoutBox PrinterListItem(int index) const {
    return {printerList.left, printerList.top + index * printerListItemHeight, printerList.width,
            printerListItemHeight};
  }
};

// The About window.
struct AboutLayout {
  LayoutBox window{0, 0, 272, 130};
  LayoutBox picture{112, 16, 48, 48};
  LayoutBox name{69, 78, 203, 22};
  LayoutBox version{69, 101, 136, 29};
};

// The new-version notice.
struct NewVersionLayout {
  LayoutBox window{0, 0, 320, 125};
  LayoutBox icon{24, 16, 33, 33};
  LayoutBox message{80, 23, 225, 52};  // room for two lines more than Tahoma needs
  LayoutBox download{40, 80, 105, 25};
  LayoutBox later{168, 80, 105, 25};
};

// The Recent documents window's first size.
struct RecentDocumentsLayout {
  LayoutBox window{0, 0, 640, 320};
};

inline constexpr PopupLayout kPopup;
inline constexpr AboutLayout kAbout;
inline constexpr NewVersionLayout kNewVersion;
inline constexpr RecentDocumentsLayout kRecentDocuments;

constexpr int kRefreshPeriodMs = 5000;      // the address label's refresh while the window shows
constexpr int kAuthCodeDelayMs = 100;       // from a showing to its auth-code request
constexpr int kTrayClickAfterHideMs = 500;  // a tray click this soon after a hiding by deactivation is ignored

// While the left button is held after a press on the chooser: whether a pointer at x, y
// (relative to the chooser) shows the pressed picture. Its edges count as inside.
constexpr bool ChooserPressedAt(int x, int y) {
  return x >= 0 && x <= kPopup.chooser.width && y >= 0 && y <= kPopup.chooser.height;
}
