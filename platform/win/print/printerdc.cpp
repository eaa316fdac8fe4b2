#include "platform/win/print/printerdc.h"

#include <algorithm>
#include <cstdlib>
#include <vector>
#include <winspool.h>

#include "platform/pwgmedia.h"
#include "platform/win/widetext.h"

namespace {

struct PrinterCloser {
  void operator()(HANDLE printer) const { ClosePrinter(printer); }
};

int LastError() { return static_cast<int>(GetLastError()); }

// The driver's number for the paper of this PWG name; 0 when it has none.
short PaperNumberOf(const std::wstring& printer, const std::string& media) {
  const int count = DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERS, nullptr, nullptr);
  if (count <= 0 || media.empty()) return 0;
  std::vector<WORD> papers(static_cast<size_t>(count));
  std::vector<POINT> sizes(static_cast<size_t>(count));  // tenths of a millimetre
  if (DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERS, reinterpret_cast<LPWSTR>(papers.data()), nullptr) !=
          count ||
      DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERSIZE, reinterpret_cast<LPWSTR>(sizes.data()), nullptr) !=
          count) {
    return 0;
  }
  for (size_t i = 0; i < papers.size(); ++i) {
    if (PwgMediaNameForSize(sizes[i].x * 10, sizes[i].y * 10) == media) return static_cast<short>(papers[i]);
  }
  return 0;
}

}  // namespace

PageSettings PageSettingsOf(const PrintOptions& options) {
  PageSettings settings;
  for (const auto& [name, value] : options) {
    if (name == "copies") {
      settings.copies = static_cast<short>(std::clamp(std::atoi(value.c_str()), 1, 999));
    } else if (name == "sides") {
      settings.duplex = value == "two-sided-long-edge"    ? DMDUP_VERTICAL
                        : value == "two-sided-short-edge" ? DMDUP_HORIZONTAL
                                                          : DMDUP_SIMPLEX;
    } else if (name == "print-color-mode") {
      settings.color = value == "monochrome" ? DMCOLOR_MONOCHROME : DMCOLOR_COLOR;
    } else if (name == "print-quality") {
      settings.quality = value == "3" ? DMRES_DRAFT : value == "5" ? DMRES_HIGH : DMRES_MEDIUM;
    } else if (name == "media") {
      settings.media = value;
    }
  }
  return settings;
}

PrinterDc CreateDefaultPrinterDc(const PageSettings& settings, int& error) {
  const std::wstring name = ToWide(GetDefaultPrintQueue());
  if (name.empty()) {
    error = ERROR_INVALID_PRINTER_NAME;
    return nullptr;
  }
  HANDLE raw = nullptr;
  if (!OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &raw, nullptr)) {
    error = LastError();
    return nullptr;
  }
  const std::unique_ptr<void, PrinterCloser> printer(raw);
  wchar_t* const device = const_cast<wchar_t*>(name.c_str());
  const LONG size = DocumentPropertiesW(nullptr, raw, device, nullptr, nullptr, 0);
  if (size <= 0) {
    error = LastError();
    return nullptr;
  }
  std::vector<unsigned char> buffer(static_cast<size_t>(size));
  auto* mode = reinterpret_cast<DEVMODEW*>(buffer.data());
  if (DocumentPropertiesW(nullptr, raw, device, mode, nullptr, DM_OUT_BUFFER) != IDOK) {
    error = LastError();
    return nullptr;
  }
  // The job's changes on top of the defaults, merged and checked by the driver.
  bool changed = false;
  const auto change = [mode, &changed](DWORD field, short& member, short value) {
    if (value == 0) return;
    changed = true;
    mode->dmFields |= field;
    member = value;
  };
  change(DM_COPIES, mode->dmCopies, settings.copies);
  change(DM_DUPLEX, mode->dmDuplex, settings.duplex);
  change(DM_COLOR, mode->dmColor, settings.color);
  change(DM_PRINTQUALITY, mode->dmPrintQuality, settings.quality);
  change(DM_PAPERSIZE, mode->dmPaperSize, PaperNumberOf(name, settings.media));
  if (changed &&
      DocumentPropertiesW(nullptr, raw, device, mode, mode, DM_IN_BUFFER | DM_OUT_BUFFER) != IDOK) {
    error = LastError();
    return nullptr;
  }
  PrinterDc dc(CreateDCW(name.c_str(), name.c_str(), nullptr, mode));
  if (!dc) error = LastError();
  return dc;
}

bool StartPrinterDocument(HDC dc, const std::string& title, int& error) {
  const std::wstring name = ToWide(title);
  DOCINFOW document{};
  document.cbSize = sizeof document;
  document.lpszDocName = name.c_str();
  if (StartDocW(dc, &document) > 0) return true;
  error = LastError();
  return false;
}
