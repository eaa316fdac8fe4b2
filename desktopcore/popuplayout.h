// The pop-up window's timing and its printer chooser's place and pressed area, the same
// for every face.
#pragma once

constexpr int kRefreshPeriodMs = 5000;  // the address label's refresh while the window shows
constexpr int kAuthCodeDelayMs = 100;   // from a showing to its auth-code request

constexpr int kChooserLeft = 26;
constexpr int kChooserTop = 63;
constexpr int kChooserWidth = 280;
constexpr int kChooserHeight = 33;

// While the left button is held after a press on the chooser: whether a pointer at x, y
// (relative to the chooser) shows the pressed picture. Its edges count as inside.
constexpr bool ChooserPressedAt(int x, int y) {
  return x >= 0 && x <= kChooserWidth && y >= 0 && y <= kChooserHeight;
}
