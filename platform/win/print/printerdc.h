// A device context of the default printer for one document, with the job's settings
// put into the printer's DEVMODE; what the GDI print methods share. Callable from any
// thread, several at once.
#pragma once

#include <memory>
#include <string>
#include <windows.h>

#include "platform/spooler.h"

// What a job changes in the printer's default settings; zero or empty leaves a setting
// as the printer has it.
struct PageSettings {
  short copies = 0;
  short duplex = 0;   // DMDUP_*
  short color = 0;    // DMCOLOR_*
  short quality = 0;  // DMRES_*
  std::string media;  // a PWG media name
};

// The settings a driverless job's options ask for (copies, sides, print-color-mode,
// print-quality, media).
PageSettings PageSettingsOf(const PrintOptions& options);

struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using PrinterDc = std::unique_ptr<HDC__, DcDeleter>;

// A DC of the default printer with its default settings changed as `settings` asks, as
// far as its driver takes them (a paper it lacks leaves the default paper). Null with
// `error` set when there is no default printer or it cannot be opened.
PrinterDc CreateDefaultPrinterDc(const PageSettings& settings, int& error);

// Begins a document titled `title` on the DC; false with `error` set when it cannot.
bool StartPrinterDocument(HDC dc, const std::string& title, int& error);
