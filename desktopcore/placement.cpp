#include "desktopcore/placement.h"

#include <algorithm>
#include <array>

namespace {

constexpr int kArrowMin = 20;
constexpr int kHorizontalArrowMax = 276;
constexpr int kVerticalArrowMax = 126;

// The strip of `thickness` pixels along `edge` of `screen`.
ScreenRect StripAlong(const ScreenRect& screen, TaskbarEdge edge, int thickness) {
  ScreenRect strip = screen;
  switch (edge) {
    case TaskbarEdge::Left: strip.right = screen.left + thickness; break;
    case TaskbarEdge::Top: strip.bottom = screen.top + thickness; break;
    case TaskbarEdge::Right: strip.left = screen.right - thickness; break;
    case TaskbarEdge::Bottom: strip.top = screen.bottom - thickness; break;
    case TaskbarEdge::Unknown: break;
  }
  return strip;
}

}  // namespace

PopupPlacement PlacePopup(int mx, int my, const TaskbarPosition& taskbar) {
  const ScreenRect& tb = taskbar.rect;
  PopupPlacement p;
  p.arrow = taskbar.edge;
  int x = mx;
  int y = my;
  bool vertical = false;
  switch (taskbar.edge) {
    case TaskbarEdge::Left:
      x = tb.right;
      y = my - kPopupHeight / 2;
      vertical = true;
      break;
    case TaskbarEdge::Top:
      y = tb.bottom;
      x = mx - kPopupWidth / 2;
      break;
    case TaskbarEdge::Right:
      x = tb.left - kPopupWidth;
      y = my - kPopupHeight / 2;
      vertical = true;
      break;
    case TaskbarEdge::Bottom:
      y = tb.top - kPopupHeight;
      x = mx - kPopupWidth / 2;
      break;
    case TaskbarEdge::Unknown:
      break;
  }
  // Pull the window back when it would pass the taskbar's far end. The end is the
  // taskbar's own right (bottom) coordinate, so a taskbar on a screen that does not
  // start at 0 keeps the window on that screen.
  if (!vertical) {
    x -= std::max(0, x + kPopupWidth - tb.right);
  } else {
    y -= std::max(0, y + kPopupHeight - tb.bottom);
  }
  p.left = x;
  p.top = y;
  p.horizontalArrowLeft = std::min(std::max(mx - x - kArrowTopWidth / 2, kArrowMin), kHorizontalArrowMax);
  p.verticalArrowTop = std::min(std::max(my - y - kArrowLeftHeight / 2, kArrowMin), kVerticalArrowMax);
  return p;
}

TaskbarPosition DeriveTaskbar(const ScreenRect& screen, const ScreenRect& available,
                              const std::optional<ScreenRect>& trayIcon) {
  // Thickness of what the panels take away, indexed by the edge's code.
  std::array<int, 4> strip = {
      std::max(0, available.left - screen.left), std::max(0, available.top - screen.top),
      std::max(0, screen.right - available.right), std::max(0, screen.bottom - available.bottom)};

  if (trayIcon) {
    // The icon sits in a panel: a panel strip that holds it, else the screen edge nearest
    // to its centre; a corner counts for the bottom or top edge, where panels usually are.
    const int cx = (trayIcon->left + trayIcon->right) / 2;
    const int cy = (trayIcon->top + trayIcon->bottom) / 2;
    const std::array<int, 4> distance = {cx - screen.left, cy - screen.top, screen.right - cx, screen.bottom - cy};
    const std::array<int, 4> reach = {trayIcon->right - screen.left, trayIcon->bottom - screen.top,
                                      screen.right - trayIcon->left, screen.bottom - trayIcon->top};
    int chosen = -1;
    for (int edge : {3, 1, 2, 0}) {
      const bool holds = strip[edge] > 0 && reach[edge] <= strip[edge];
      const bool chosenHolds = chosen >= 0 && strip[chosen] > 0 && reach[chosen] <= strip[chosen];
      if (chosen < 0 || (holds && !chosenHolds) || (holds == chosenHolds && distance[edge] < distance[chosen])) {
        chosen = edge;
      }
    }
    return {StripAlong(screen, static_cast<TaskbarEdge>(chosen), std::max(strip[chosen], reach[chosen])),
            static_cast<TaskbarEdge>(chosen)};
  }

  const auto widest = static_cast<int>(std::max_element(strip.begin(), strip.end()) - strip.begin());
  if (strip[widest] == 0) return {screen, TaskbarEdge::Unknown};
  const auto edge = static_cast<TaskbarEdge>(widest);
  return {StripAlong(screen, edge, strip[widest]), edge};
}
