// Plumbing every window of the Win32 face shares: a top-level window whose messages go to
// a C++ object, painting through an off-screen bitmap, the pictures and fonts. UI thread
// only.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "desktopcore/popuplayout.h"

class CWindow {
 public:
  CWindow() = default;
  CWindow(const CWindow&) = delete;
  CWindow& operator=(const CWindow&) = delete;
  // Destroys the window if it is still there, without calling Dispatch any more.
  virtual ~CWindow();

  HWND Handle() const { return handle_; }

 protected:
  // Registers `className` on first use and creates the window with a client area of
  // width × height; false when the system refuses.
  bool Create(const wchar_t* className, const std::string& title, DWORD style, DWORD exStyle, int width, int height);
  // The window's messages; the default is the system's own handling.
  virtual LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND handle_ = nullptr;
};

// GDI+ for the life of the desktop.
class CGdiplusSession {
 public:
  CGdiplusSession();
  ~CGdiplusSession();
  CGdiplusSession(const CGdiplusSession&) = delete;
  CGdiplusSession& operator=(const CGdiplusSession&) = delete;

 private:
  ULONG_PTR token_ = 0;
};

// The picture `id` (artworkids.h) of the program's resources, decoded; null when missing.
std::unique_ptr<Gdiplus::Bitmap> LoadArtwork(int id);

// Draws `picture` with its own size at x, y; nothing when it is missing.
void DrawPicture(Gdiplus::Graphics& graphics, Gdiplus::Bitmap* picture, int x, int y);

// A layout box as a Windows rectangle (right and bottom exclusive).
constexpr RECT BoxRect(const LayoutBox& box) { return {box.left, box.top, box.Right(), box.Bottom()}; }

struct FontDeleter {
  void operator()(HFONT font) const { DeleteObject(font); }
};
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// The windows' font: Tahoma `pixelHeight` pixels high (a negative LOGFONT height).
FontHandle TahomaFont(int pixelHeight, bool bold = false);

// Draws the UTF-8 `text` on a transparent background into `box` (DrawText's `format`).
void DrawLabel(HDC dc, const std::string& text, HFONT font, COLORREF color, RECT box, UINT format);

// Paints the whole client area through an off-screen bitmap: `draw` draws it complete,
// and the window never shows a half-drawn state.
void PaintBuffered(HWND window, const std::function<void(HDC dc, Gdiplus::Graphics& graphics)>& draw);

// Shows `window` centred on the primary screen's work area, or brings it to the front
// when it is open already.
void ShowCentred(HWND window);
