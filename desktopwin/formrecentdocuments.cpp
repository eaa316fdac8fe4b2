#include "desktopwin/formrecentdocuments.h"

#include "base/documenthistory.h"
#include "desktopcore/popuptexts.h"
#include "platform/win/widetext.h"

namespace {

// The columns of a row, separated by tabs that the list box aligns.
std::wstring TabbedLine(const std::vector<std::string>& columns) {
  std::string line;
  for (const std::string& column : columns) line += (line.empty() ? "" : "\t") + column;
  return ToWide(line);
}

}  // namespace

TFormRecentDocuments::TFormRecentDocuments() {
  Create(L"OlvaroDesktopRecentDocuments", kRecentDocumentsTitle, WS_OVERLAPPEDWINDOW, 0, kRecentDocuments.window.width,
         kRecentDocuments.window.height);
  documentList = CreateWindowExW(
      0, L"LISTBOX", nullptr,
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 0, 0,
      kRecentDocuments.window.width, kRecentDocuments.window.height, Handle(), nullptr, GetModuleHandleW(nullptr),
      nullptr);
  SendMessageW(documentList, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  // Tab stops in dialog units: time, document, source, printer, then the result.
  const int stops[] = {90, 210, 280, 360};
  SendMessageW(documentList, LB_SETTABSTOPS, 4, reinterpret_cast<LPARAM>(stops));
}

void TFormRecentDocuments::ShowRecentDocuments() {
  const auto add = [this](const std::vector<std::string>& columns) {
    SendMessageW(documentList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(TabbedLine(columns).c_str()));
  };
  SendMessageW(documentList, LB_RESETCONTENT, 0, 0);
  add(RecentDocumentColumns());
  for (const DocumentRecord& record : RecentDocuments()) add(RecentDocumentRow(record));
  ShowCentred(Handle());
}

LRESULT TFormRecentDocuments::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      MoveWindow(documentList, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_CLOSE:
      ShowWindow(Handle(), SW_HIDE);
      return 0;
    default:
      return CWindow::Dispatch(message, wParam, lParam);
  }
}
