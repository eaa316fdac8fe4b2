#include "print/printers.h"

#include <chrono>
#include <mutex>
#include <strings.h>
#include <vector>

#include "platform/filetypes.h"
#include "platform/spooler.h"
#include "base/settings.h"
#include "wire/protocol.h"

namespace {

// How long a not-have list is sent without looking whether the desktop changed.
constexpr std::chrono::seconds kNotHaveRecheck(1);

bool ContainsIgnoringCase(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& entry : names) {
    if (strcasecmp(entry.c_str(), name.c_str()) == 0) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> GetPrinterList() {
  std::vector<std::string> names;
  // A queue to our own driverless printer would send each job back to us.
  for (const PrintQueue& queue : ListPrintQueues()) {
    if (!IsOwnDriverlessEndpoint(queue.deviceUri)) names.push_back(queue.name);
  }
  return names;
}

std::string GetDefaultPrinterName() { return GetDefaultPrintQueue(); }

void SetDefaultPrinterName(const std::string& name) {
  if (!name.empty()) SetDefaultPrintQueue(name);
}

std::string HasFileAssociation(const std::string& extension, const std::string& present, const std::string& missing) {
  return HasDefaultApplication(extension) ? present : missing;
}

std::string BuildNotHaveList() {
  // Probing takes about a millisecond, several times the rest of an "/info" reply. The
  // list is kept for a second; after that a look at the files behind the associations
  // tells whether it must be probed again.
  static std::mutex mutex;
  static std::string cachedStamp;
  static std::string cachedList;
  static std::chrono::steady_clock::time_point checked;
  const auto now = std::chrono::steady_clock::now();
  {
    const std::lock_guard lock(mutex);
    if (!cachedList.empty() && now - checked < kNotHaveRecheck) return cachedList;
  }
  static const std::vector<std::string> extensions = [] {
    std::vector<std::string> names;
    for (const NotHaveWord& entry : kNotHaveWords) {
      if (entry.probed) names.emplace_back(entry.probed);
    }
    return names;
  }();
  const std::string stamp = FileAssociationsStamp(extensions);
  {
    const std::lock_guard lock(mutex);
    if (!cachedList.empty() && stamp == cachedStamp) {
      checked = now;
      return cachedList;
    }
  }
  std::string list;
  for (const NotHaveWord& entry : kNotHaveWords) {
    const std::string word = entry.probed ? HasFileAssociation(entry.probed, "", entry.word) : entry.word;
    if (!word.empty()) list += (list.empty() ? "" : std::string(1, kNotHaveSeparator)) + word;
  }
  const std::lock_guard lock(mutex);
  cachedStamp = stamp;
  cachedList = list;
  checked = now;
  return list;
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
