#include "desktopcore/placement.h"

#include <gtest/gtest.h>

namespace {

const TaskbarPosition kBottomTaskbar{{0, 1040, 1920, 1080}, TaskbarEdge::Bottom};

struct BottomCase {
  int mx;
  int left;
  int arrowLeft;
};

TEST(PopupPlacement, BottomTaskbarFollowsThePointerAndStopsAtTheRightEnd) {
  for (const BottomCase& c : {BottomCase{1000, 833, 150}, BottomCase{1820, 1586, 217},
                              BottomCase{1910, 1586, 276}, BottomCase{50, -117, 150}}) {
    const PopupPlacement p = PlacePopup(c.mx, 1060, kBottomTaskbar);
    EXPECT_EQ(p.left, c.left) << "mx " << c.mx;
    EXPECT_EQ(p.top, 855) << "mx " << c.mx;
    EXPECT_EQ(p.horizontalArrowLeft, c.arrowLeft) << "mx " << c.mx;
    EXPECT_EQ(p.arrow, TaskbarEdge::Bottom);
  }
}

TEST(PopupPlacement, TopTaskbarHangsBelowIt) {
  const PopupPlacement p = PlacePopup(400, 10, {{0, 0, 1920, 30}, TaskbarEdge::Top});
  EXPECT_EQ(p.left, 400 - 167);
  EXPECT_EQ(p.top, 30);
  EXPECT_EQ(p.arrow, TaskbarEdge::Top);
  EXPECT_EQ(p.horizontalArrowLeft, 150);
}

TEST(PopupPlacement, SideTaskbarsCentreVerticallyAndPullUpAtTheBottom) {
  const TaskbarPosition left{{0, 0, 48, 1080}, TaskbarEdge::Left};
  PopupPlacement p = PlacePopup(20, 500, left);
  EXPECT_EQ(p.left, 48);
  EXPECT_EQ(p.top, 500 - 92);
  EXPECT_EQ(p.verticalArrowTop, 92 - 18);
  EXPECT_EQ(p.arrow, TaskbarEdge::Left);

  const TaskbarPosition right{{1872, 0, 1920, 1080}, TaskbarEdge::Right};
  p = PlacePopup(1900, 1070, right);
  EXPECT_EQ(p.left, 1872 - 334);
  EXPECT_EQ(p.top, 1080 - 185);
  EXPECT_EQ(p.verticalArrowTop, 126);  // 1070 - 895 - 18 = 157, limited
  EXPECT_EQ(p.arrow, TaskbarEdge::Right);

  p = PlacePopup(1900, 30, right);
  EXPECT_EQ(p.top, 30 - 92);  // no correction at the top end
  EXPECT_EQ(p.verticalArrowTop, 74);
}

TEST(PopupPlacement, UnknownEdgeLeavesTheWindowAtThePointer) {
  const PopupPlacement p = PlacePopup(300, 200, {{0, 0, 1920, 1080}, TaskbarEdge::Unknown});
  EXPECT_EQ(p.left, 300);
  EXPECT_EQ(p.top, 200);
  EXPECT_EQ(p.arrow, TaskbarEdge::Unknown);
  EXPECT_EQ(p.horizontalArrowLeft, 20);
}

TEST(PopupPlacement, TaskbarOnASecondScreenKeepsTheWindowOnThatScreen) {
  const PopupPlacement p = PlacePopup(3830, 2140, {{1920, 2120, 3840, 2160}, TaskbarEdge::Bottom});
  EXPECT_EQ(p.left, 3840 - 334);
  EXPECT_EQ(p.top, 2120 - 185);
}

TEST(TaskbarFromScreen, WidestPanelStripWithoutIcon) {
  const ScreenRect screen{0, 0, 1920, 1080};
  TaskbarPosition t = DeriveTaskbar(screen, {0, 0, 1920, 1040}, std::nullopt);
  EXPECT_EQ(t.edge, TaskbarEdge::Bottom);
  EXPECT_EQ(t.rect.top, 1040);
  EXPECT_EQ(t.rect.bottom, 1080);
  EXPECT_EQ(t.rect.right, 1920);

  t = DeriveTaskbar(screen, {60, 28, 1920, 1080}, std::nullopt);
  EXPECT_EQ(t.edge, TaskbarEdge::Left);
  EXPECT_EQ(t.rect.right, 60);

  t = DeriveTaskbar(screen, screen, std::nullopt);
  EXPECT_EQ(t.edge, TaskbarEdge::Unknown);
  EXPECT_EQ(t.rect.right, 1920);
}

TEST(TaskbarFromScreen, TrayIconPicksItsEdgeAmongSeveralPanels) {
  // A top bar of 28 and a left dock of 60: the icon in the top bar wins.
  const ScreenRect screen{0, 0, 1920, 1080};
  TaskbarPosition t = DeriveTaskbar(screen, {60, 28, 1920, 1080}, ScreenRect{1800, 4, 1816, 20});
  EXPECT_EQ(t.edge, TaskbarEdge::Top);
  EXPECT_EQ(t.rect.bottom, 28);

  // A panel the available geometry does not show (a tray host like trayer) still
  // counts as deep as the icon reaches.
  t = DeriveTaskbar(screen, screen, ScreenRect{1000, 1058, 1022, 1080});
  EXPECT_EQ(t.edge, TaskbarEdge::Bottom);
  EXPECT_EQ(t.rect.top, 1058);

  // In the bottom right corner the bottom edge wins the tie.
  t = DeriveTaskbar(screen, screen, ScreenRect{1898, 1058, 1920, 1080});
  EXPECT_EQ(t.edge, TaskbarEdge::Bottom);

  // A right-hand panel holding an icon near the bottom corner.
  t = DeriveTaskbar(screen, {0, 0, 1880, 1080}, ScreenRect{1890, 1050, 1912, 1072});
  EXPECT_EQ(t.edge, TaskbarEdge::Right);
  EXPECT_EQ(t.rect.left, 1880);
}

}  // namespace
