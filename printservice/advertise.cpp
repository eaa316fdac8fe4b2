// The DNS-SD advertisement of the print service, on a thread of its own: the phone
// service, and beside it the driverless printer ("_ipp._tcp") while sharing is on.
#include "printservice/vostrelhttpserver.h"

#include "base/hostinfo.h"
#include "base/settings.h"
#include "ippprinter/printerattributes.h"
#include "platform/dnssd.h"
#include "platform/spooler.h"
#include "print/printers.h"
#include "text/utf8.h"
#include "wire/protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

constexpr char kServiceDomain[] = "local.";
constexpr int kRegisterAttempts = 60;
constexpr int kRegisterRetryMs = 1000;
constexpr int kServeWaitMs = 1000;

constexpr char kDriverlessServiceType[] = "_ipp._tcp";
// iOS lists no printer without "_universal".
const std::vector<std::string> kDriverlessSubtypes = {"_print", "_universal"};
// How often the setting and the chosen printer are looked at again.
constexpr auto kDriverlessRefresh = std::chrono::seconds(2);
// Registrations a refresh tries while the name is taken before it waits for the next.
constexpr int kConflictAttempts = 10;
constexpr size_t kMaxServiceNameBytes = 63;

// Another service on the network holds our name: the next one is taken, as DNS-SD
// responders do, and the change is told once on the standard error stream.
void MoveToNextName(CDnsSdService& service) {
  const std::string taken = service.Name();
  const std::string next = service.MoveToAlternativeName();
  std::fprintf(stderr, "DNS-SD: the name \"%s\" is taken on the network; announcing as \"%s\"\n", taken.c_str(),
               next.c_str());
}

// The keyword Bonjour printers give for the largest paper they take.
std::string PaperMax(const IppAttribute* media) {
  int32_t widest = 0;
  int32_t longest = 0;
  for (const IppValue& name : media != nullptr ? media->values : std::vector<IppValue>{}) {
    if (const std::optional<MediaSize> size = SizeOfMediaName(name.text)) {
      widest = std::max(widest, std::min(size->width, size->length));
      longest = std::max(longest, std::max(size->width, size->length));
    }
  }
  // In hundredths of a millimetre: legal and A4, tabloid and A3, ISO C and A2.
  if (widest <= 21590 && longest <= 35560) return longest < 29700 ? "<legal-A4" : "legal-A4";
  if (widest <= 29700 && longest <= 43180) return "tabloid-A3";
  if (widest <= 45800 && longest <= 64800) return "isoC-A2";
  return ">isoC-A2";
}

// What the driverless printer announces: its name and its TXT record.
struct DriverlessAnnouncement {
  std::string name;
  DnsSdTxtRecord txt;
  bool operator==(const DriverlessAnnouncement&) const = default;
};

// The printer as clients look for it (keys of the Bonjour printing and Mopria
// specifications), read from the attributes the printer object answers with, so that the
// two never disagree. No "printer-type" key, which makes CUPS's driverless tools pass the
// printer by, and no "TLS" key, as there is none.
DriverlessAnnouncement DriverlessAnnouncementFor(const PrinterDescription& description) {
  const IppGroup attributes = BuildPrinterAttributes(description);
  const auto text = [&attributes](std::string_view name) {
    const IppAttribute* attribute = FindIppAttribute(attributes, name);
    return attribute != nullptr && !attribute->values.empty() ? attribute->values.front().text : std::string();
  };
  const auto joined = [&attributes](std::string_view name, std::string_view skip = {}) {
    std::string list;
    const IppAttribute* attribute = FindIppAttribute(attributes, name);
    for (const IppValue& value : attribute != nullptr ? attribute->values : std::vector<IppValue>{}) {
      if (value.text == skip) continue;
      list += (list.empty() ? "" : ",") + value.text;
    }
    return list;
  };
  const IppAttribute* color = FindIppAttribute(attributes, "color-supported");
  const bool duplex = joined("sides-supported").find("two-sided") != std::string::npos;
  const std::string model = text("printer-make-and-model");
  const std::string uuid = text("printer-uuid");
  return {CutUtf8(text("printer-name"), kMaxServiceNameBytes),
          {
              {"txtvers", "1"},
              {"qtotal", "1"},
              {"rp", "ipp/print"},
              {"ty", model},
              {"product", "(" + model + ")"},
              {"note", text("printer-location")},
              {"adminurl", text("printer-more-info")},
              {"priority", "0"},
              {"pdl", joined("document-format-supported", "application/octet-stream")},
              {"UUID", uuid.starts_with("urn:uuid:") ? uuid.substr(9) : uuid},
              {"URF", joined("urf-supported")},
              {"Color", color != nullptr && color->values.front().integer != 0 ? "T" : "F"},
              {"Duplex", duplex ? "T" : "F"},
              {"kind", "document,photo"},
              {"PaperMax", PaperMax(FindIppAttribute(attributes, "media-supported"))},
              {"mopria-certified", "1.3"},
          }};
}

// What should be announced now: nothing while sharing is off, no printer is chosen, or
// the chosen one prints back to this program.
std::optional<DriverlessAnnouncement> CurrentDriverlessAnnouncement(uint16_t port) {
  if (!ReadShareWithAllPhones()) return std::nullopt;
  std::optional<QueueCapabilities> queue = GetDefaultQueueCapabilities();
  if (!queue || IsOwnDriverlessEndpoint(queue->deviceUri)) return std::nullopt;
  PrinterDescription description;
  description.queue = std::move(*queue);
  description.acceptingJobs = true;
  description.computerName = GetLocalHostName();
  description.uuid = ReadPrinterUuid();
  // The name clients reach the PC by on the local network.
  const std::string host = description.computerName.substr(0, description.computerName.find('.'));
  description.authority = host + ".local:" + std::to_string(port);
  return DriverlessAnnouncementFor(description);
}

// The "_ipp._tcp" record, kept in line with the setting and the chosen printer. A change
// of printer announces a new name (and so starts again from the plain name); a change of
// its capabilities the same name with the new TXT record.
class DriverlessRecord {
public:
  explicit DriverlessRecord(uint16_t port) : port_(port) {}

  // Registers, updates or withdraws the record when what it should say has changed or
  // its registration was lost; at most once per kDriverlessRefresh unless `now`.
  void Refresh(bool now = false) {
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - lastRefresh_ < kDriverlessRefresh) return;
    lastRefresh_ = time;
    const std::optional<DriverlessAnnouncement> wanted = CurrentDriverlessAnnouncement(port_);
    if (service_ && service_->IsRegistered() && wanted == announced_) return;
    if (!wanted) {
      Withdraw();
      return;
    }
    if (!service_ || wanted->name != baseName_) {
      baseName_ = wanted->name;
      service_ = std::make_unique<CDnsSdService>(baseName_);
    }
    announced_.reset();
    for (int attempt = 0; attempt < kConflictAttempts; ++attempt) {
      const int error =
          service_->Register(kDriverlessServiceType, kServiceDomain, port_, wanted->txt, kDriverlessSubtypes);
      if (error == 0) {
        announced_ = wanted;
        return;
      }
      if (error != kDnsSdNameConflict) return;  // the daemon is away: tried again next time
      MoveToNextName(*service_);
    }
  }

  // Handles the daemon's messages; waits up to `timeoutMs` only while registered.
  void Serve(int timeoutMs) {
    if (!service_ || !service_->IsRegistered()) return;
    const DnsSdServeResult result = service_->Serve(timeoutMs);
    if (result == DnsSdServeResult::Idle) return;
    service_->Withdraw();
    if (result == DnsSdServeResult::NameConflict) MoveToNextName(*service_);
    Refresh(true);
  }

  void Withdraw() {
    if (service_) service_->Withdraw();
  }

private:
  const uint16_t port_;
  std::unique_ptr<CDnsSdService> service_;
  std::string baseName_;                             // before any move to a free name
  std::optional<DriverlessAnnouncement> announced_;  // what the registration says
  std::chrono::steady_clock::time_point lastRefresh_{};
};

}  // namespace

bool CVostrelHttpServer::WaitForStopRequest(int milliseconds) {
  std::unique_lock<std::mutex> lock(stopMutex);
  return stopWake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return advertiseState != kAdvertising; });
}

bool CVostrelHttpServer::RegisterService(CDnsSdService& service) {
  const uint16_t advertisedPort = static_cast<uint16_t>(port & 0xFFFF);
  for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
    if (advertiseState != kAdvertising) {
      return false;
    }
    const int error = service.Register(kServiceType, kServiceDomain, advertisedPort);
    if (error == 0) {
      return true;
    }
    if (error == kDnsSdNameConflict) {
      MoveToNextName(service);
    } else if (WaitForStopRequest(kRegisterRetryMs)) {
      return false;
    }
  }
  return false;
}

// Keeps the services announced until a stop is requested. When the daemon's connection
// breaks (the daemon restarted), the services are registered again with fresh attempts;
// when a name is taken later (a PC of the same name joined), under the next name. The
// driverless record follows the phone service's registration: both live on one daemon.
void CVostrelHttpServer::AdvertiseThread(CVostrelHttpServer* server) {
  {
    CDnsSdService service;
    DriverlessRecord driverless(static_cast<uint16_t>(server->port & 0xFFFF));
    while (server->RegisterService(service)) {
      driverless.Refresh(true);
      DnsSdServeResult result = DnsSdServeResult::Idle;
      while (server->advertiseState == kAdvertising &&
             (result = service.Serve(kServeWaitMs / 2)) == DnsSdServeResult::Idle) {
        driverless.Serve(kServeWaitMs / 2);
        driverless.Refresh();
      }
      service.Withdraw();
      driverless.Withdraw();
      if (result == DnsSdServeResult::NameConflict) {
        MoveToNextName(service);
        continue;
      }
      // A daemon that refuses the service at once must not be asked again in a tight loop.
      if (server->WaitForStopRequest(kRegisterRetryMs)) {
        break;
      }
    }
  }
  server->advertiseState = kAdvertisementEnded;
}
