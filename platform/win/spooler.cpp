// The Windows spooler: printers, the user's default printer. Jobs themselves are drawn
// with GDI or handed to outside programs (platform/win/print/).
#include "platform/spooler.h"

#include <vector>
#include <windows.h>
#include <winspool.h>

#include "platform/win/widetext.h"

std::vector<std::string> ListPrintQueues() {
  const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  DWORD needed = 0;
  DWORD count = 0;
  EnumPrintersW(flags, nullptr, 4, nullptr, 0, &needed, &count);
  std::vector<unsigned char> buffer(needed);
  if (needed == 0 || !EnumPrintersW(flags, nullptr, 4, buffer.data(), needed, &needed, &count)) return {};
  const auto* printers = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
  std::vector<std::string> names;
  for (DWORD i = 0; i < count; ++i) names.push_back(ToUtf8(printers[i].pPrinterName));
  return names;
}

std::string GetDefaultPrintQueue() {
  DWORD length = 0;
  GetDefaultPrinterW(nullptr, &length);
  std::wstring name(length, L'\0');
  if (length == 0 || !GetDefaultPrinterW(name.data(), &length)) return {};
  name.resize(length - 1);
  return ToUtf8(name);
}

bool SetDefaultPrintQueue(const std::string& name) { return SetDefaultPrinterW(ToWide(name).c_str()) != 0; }

bool IsDefaultQueueStopped() {
  std::wstring name = ToWide(GetDefaultPrintQueue());
  HANDLE printer = nullptr;
  if (name.empty() || !OpenPrinterW(name.data(), &printer, nullptr)) return false;
  DWORD needed = 0;
  GetPrinterW(printer, 6, nullptr, 0, &needed);
  std::vector<unsigned char> buffer(needed);
  const bool known = needed != 0 && GetPrinterW(printer, 6, buffer.data(), needed, &needed);
  ClosePrinter(printer);
  return known && (reinterpret_cast<const PRINTER_INFO_6*>(buffer.data())->dwStatus & PRINTER_STATUS_PAUSED) != 0;
}
