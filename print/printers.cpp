#include "print/printers.h"

#include <strings.h>

#include "platform/filetypes.h"
#include "platform/spooler.h"
#include "base/settings.h"

namespace {

bool ContainsIgnoringCase(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& entry : names) {
    if (strcasecmp(entry.c_str(), name.c_str()) == 0) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> GetPrinterList() { return ListPrintQueues(); }

std::string GetDefaultPrinterName() { return GetDefaultPrintQueue(); }

void SetDefaultPrinterName(const std::string& name) {
  if (!name.empty()) SetDefaultPrintQueue(name);
}

std::string HasFileAssociation(const std::string& extension, const std::string& present,
                               const std::string& missing) {
  return HasDefaultApplication(extension) ? present : missing;
}

std::string BuildNotHaveList() {
  return "iWork" + HasFileAssociation(".xls", "", ",Office") + HasFileAssociation(".xlsx", "", ",Office2007") +
         HasFileAssociation(".pdf", "", ",PDF") + HasFileAssociation(".webarchive", "", ",WebArchive");
}

std::string ReconcilePreferredPrinter() {
  const std::vector<std::string> printers = GetPrinterList();
  if (printers.empty()) return {};
  const std::string preferred = ReadSettingString("preferredPrinterName");
  const std::string current = GetDefaultPrinterName();
  if (preferred != current && ContainsIgnoringCase(printers, preferred)) {
    SetDefaultPrinterName(preferred);
    return preferred;
  }
  return current;
}
