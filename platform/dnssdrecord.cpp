// TXT records, subtypes and this process's own announcements, on every system.
#include "platform/dnssd-private.h"

#include <map>
#include <mutex>
#include <utility>

#include "text/ascii.h"
#include "text/utf8.h"

namespace {

constexpr std::string::size_type kMaxTxtEntryBytes = 255;

struct Announcements {
  std::mutex mutex;
  std::map<const CDnsSdService*, std::pair<std::string, std::string>> byService;  // name, type
};

Announcements& TheAnnouncements() {
  static Announcements announcements;
  return announcements;
}

}  // namespace

std::string EncodeDnsSdTxtRecord(const DnsSdTxtRecord& txt) {
  std::string record;
  for (const auto& [key, value] : txt) {
    const std::string entry = CutUtf8(key + "=" + value, kMaxTxtEntryBytes);
    record += static_cast<char>(entry.size());
    record += entry;
  }
  return record;
}

std::string DnsSdTypeWithSubtypes(const std::string& type, const std::vector<std::string>& subtypes) {
  std::string joined = type;
  for (const std::string& subtype : subtypes) joined += "," + subtype;
  return joined;
}

void NoteAnnouncement(const CDnsSdService* service, const std::string& name, const std::string& type) {
  Announcements& all = TheAnnouncements();
  const std::lock_guard lock(all.mutex);
  all.byService[service] = {name, type};
}

void ForgetAnnouncement(const CDnsSdService* service) {
  Announcements& all = TheAnnouncements();
  const std::lock_guard lock(all.mutex);
  all.byService.erase(service);
}

bool IsAnnouncedByThisProcess(const std::string& name, const std::string& type) {
  Announcements& all = TheAnnouncements();
  const std::lock_guard lock(all.mutex);
  for (const auto& [service, announced] : all.byService) {
    // DNS compares names without regard to ASCII case.
    if (EqualsIgnoringAsciiCase(announced.first, name) && EqualsIgnoringAsciiCase(announced.second, type)) {
      return true;
    }
  }
  return false;
}
