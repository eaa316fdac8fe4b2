#include "desktopcore/printerchoice.h"

#include "base/settings.h"
#include "desktopcore/popuptexts.h"
#include "print/printers.h"

PrinterChoice LoadPrinterChoice() {
  PrinterChoice choice;
  choice.printers = GetPrinterList();
  choice.label = choice.printers.empty() ? kNoPrinterInstalled : ReconcilePreferredPrinter();
  return choice;
}

void ChoosePrinter(const std::string& name) {
  WriteSettingString("preferredPrinterName", name);
  SetDefaultPrinterName(name);
}
