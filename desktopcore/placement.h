// Where the pop-up window goes when the tray icon is clicked, and where its pointer
// arrow sits. Pure arithmetic on plain rectangles; callable from any thread.
#pragma once

#include <optional>

// A screen rectangle; right and bottom are exclusive, as in a Windows RECT.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// The screen edge the taskbar (panel) sits on; the values are the shell's ABE_* codes.
enum class TaskbarEdge { Unknown = -1, Left = 0, Top = 1, Right = 2, Bottom = 3 };

struct TaskbarPosition {
  ScreenRect rect;
  TaskbarEdge edge = TaskbarEdge::Unknown;
};

// Sizes of the window and of the arrows the placement depends on.
constexpr int kPopupWidth = 334;
constexpr int kPopupHeight = 185;
constexpr int kArrowTopWidth = 35;
constexpr int kArrowLeftHeight = 36;

struct PopupPlacement {
  int left = 0;                    // window position on the screen
  int top = 0;
  TaskbarEdge arrow = TaskbarEdge::Unknown;  // the one arrow to show, Unknown for none
  int horizontalArrowLeft = 0;     // left of the top and bottom arrows inside the window
  int verticalArrowTop = 0;        // top of the left and right arrows inside the window
};

// The window's position for a tray click at (mx, my) next to `taskbar`.
PopupPlacement PlacePopup(int mx, int my, const TaskbarPosition& taskbar);

// The taskbar derived from a screen's full and available geometry. With the tray icon's
// geometry: the panel strip that holds the icon, else the edge nearest to it (at least
// as deep as the icon reaches). Without it: the widest strip the panels take away. With
// neither the edge is Unknown and the rectangle is the whole screen.
TaskbarPosition DeriveTaskbar(const ScreenRect& screen, const ScreenRect& available,
                              const std::optional<ScreenRect>& trayIcon);
