#include "desktopwin/window.h"

#include <shlwapi.h>

#include "platform/win/widetext.h"

CWindow::~CWindow() {
  if (!handle_) return;
  SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
  DestroyWindow(handle_);
}

bool CWindow::Create(const wchar_t* className, const std::string& title, DWORD style, DWORD exStyle, int width,
                     int height) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  if (!GetClassInfoExW(instance, className, &windowClass)) {
    windowClass = WNDCLASSEXW{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    if (!RegisterClassExW(&windowClass)) return false;
  }
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  CreateWindowExW(exStyle, className, ToWide(title).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
  return handle_ != nullptr;
}

LRESULT CWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(handle_, message, wParam, lParam);
}

LRESULT CALLBACK CWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<CWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->handle_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<CWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  const LRESULT result = self->Dispatch(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->handle_ = nullptr;
  }
  return result;
}

CGdiplusSession::CGdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&token_, &input, nullptr);
}

CGdiplusSession::~CGdiplusSession() {
  if (token_) Gdiplus::GdiplusShutdown(token_);
}

std::unique_ptr<Gdiplus::Bitmap> LoadArtwork(int id) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!resource) return nullptr;
  const HGLOBAL loaded = LoadResource(module, resource);
  const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
  if (!bytes) return nullptr;
  IStream* stream = SHCreateMemStream(bytes, SizeofResource(module, resource));
  if (!stream) return nullptr;
  std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream));
  std::unique_ptr<Gdiplus::Bitmap> picture;
  // A decoded picture keeps reading its stream; a copy in memory stands alone and draws
  // faster with premultiplied alpha.
  if (decoded && decoded->GetLastStatus() == Gdiplus::Ok) {
    picture = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(decoded->GetWidth()),
                                                static_cast<INT>(decoded->GetHeight()), PixelFormat32bppPARGB);
    Gdiplus::Graphics graphics(picture.get());
    graphics.DrawImage(decoded.get(), 0, 0, decoded->GetWidth(), decoded->GetHeight());
  }
  decoded.reset();
  stream->Release();
  return picture;
}

void DrawPicture(Gdiplus::Graphics& graphics, Gdiplus::Bitmap* picture, int x, int y) {
  if (picture) graphics.DrawImage(picture, x, y, picture->GetWidth(), picture->GetHeight());
}

FontHandle TahomaFont(int pixelHeight, bool bold) {
  return FontHandle(CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
}

void DrawLabel(HDC dc, const std::string& text, HFONT font, COLORREF color, RECT box, UINT format) {
  const HGDIOBJ previous = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  std::wstring wide = ToWide(text);
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &box, format | DT_NOPREFIX);
  SelectObject(dc, previous);
}

void PaintBuffered(HWND window, const std::function<void(HDC dc, Gdiplus::Graphics& graphics)>& draw) {
  PAINTSTRUCT paint;
  const HDC screen = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  const HDC buffer = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  const HGDIOBJ previous = SelectObject(buffer, bitmap);
  {
    Gdiplus::Graphics graphics(buffer);
    draw(buffer, graphics);
  }
  BitBlt(screen, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
  SelectObject(buffer, previous);
  DeleteObject(bitmap);
  DeleteDC(buffer);
  EndPaint(window, &paint);
}

void ShowCentred(HWND window) {
  if (!IsWindowVisible(window)) {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame{};
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(window, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(window, SW_SHOW);
  }
  SetForegroundWindow(window);
}
