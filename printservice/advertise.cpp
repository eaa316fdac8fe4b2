// The DNS-SD advertisement of the print service, on a thread of its own: the phone
// service, and beside it the driverless printer ("_ipp._tcp") while sharing is on.
#include "printservice/vostrelhttpserver.h"

#include "base/hostinfo.h"
#include "base/settings.h"
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

// The keyword Bonjour printers give for the largest paper they take, from PWG media
// names ("iso_a3_297x420mm", "na_letter_8.5x11in").
std::string PaperMax(const std::vector<std::string>& media) {
  double widest = 0;
  double longest = 0;
  for (const std::string& name : media) {
    double width = 0;
    double length = 0;
    char unit[3] = {};
    const auto sizes = name.rfind('_');
    if (sizes == std::string::npos ||
        std::sscanf(name.c_str() + sizes + 1, "%lfx%lf%2s", &width, &length, unit) != 3) {
      continue;
    }
    const double millimetres = std::string(unit) == "in" ? 25.4 : 1.0;
    widest = std::max(widest, std::min(width, length) * millimetres);
    longest = std::max(longest, std::max(width, length) * millimetres);
  }
  if (widest <= 216 && longest <= 356) return widest > 0 && longest < 297 ? "<legal-A4" : "legal-A4";
  if (widest <= 297 && longest <= 432) return "tabloid-A3";
  if (widest <= 458 && longest <= 648) return "isoC-A2";
  return ">isoC-A2";
}

// The host name as DNS-SD announces it: up to its first dot.
std::string ComputerName() {
  const std::string host = GetLocalHostName();
  return host.substr(0, host.find('.'));
}

// What the driverless printer announces: its name and its TXT record.
struct DriverlessAnnouncement {
  std::string name;
  DnsSdTxtRecord txt;
  bool operator==(const DriverlessAnnouncement&) const = default;
};

// The chosen printer as clients look for it (keys of the Bonjour printing and Mopria
// specifications; no "printer-type", which makes CUPS's driverless tools pass the printer
// by, and no "TLS", as there is none). The values match the printer object's attributes.
DnsSdTxtRecord DriverlessTxtRecord(const QueueCapabilities& queue, const std::string& uuid, uint16_t port) {
  const std::string model = queue.makeAndModel.empty() ? queue.name : queue.makeAndModel;
  std::string urf = "V1.4,W8,SRGB24,RS300,CP1";
  if (queue.duplex) urf += ",DM1";
  return {
      {"txtvers", "1"},
      {"qtotal", "1"},
      {"rp", "ipp/print"},
      {"ty", model},
      {"product", "(" + model + ")"},
      {"note", queue.location},
      {"adminurl", "http://" + ComputerName() + ".local:" + std::to_string(port) + "/"},
      {"priority", "0"},
      {"pdl", "application/pdf,image/jpeg,image/pwg-raster,image/urf"},
      {"UUID", uuid.starts_with("urn:uuid:") ? uuid.substr(9) : uuid},
      {"URF", urf},
      {"Color", queue.color ? "T" : "F"},
      {"Duplex", queue.duplex ? "T" : "F"},
      {"kind", "document,photo"},
      {"PaperMax", PaperMax(queue.media)},
      {"mopria-certified", "1.3"},
  };
}

// What should be announced now: nothing while sharing is off, no printer is chosen, or
// the chosen one prints back to this program.
std::optional<DriverlessAnnouncement> CurrentDriverlessAnnouncement(uint16_t port) {
  if (!ReadShareWithAllPhones()) return std::nullopt;
  const std::optional<QueueCapabilities> queue = GetDefaultQueueCapabilities();
  if (!queue || IsOwnDriverlessEndpoint(queue->deviceUri)) return std::nullopt;
  const std::string printer = queue->info.empty() ? queue->name : queue->info;
  return DriverlessAnnouncement{CutUtf8(printer + " @ " + ComputerName(), kMaxServiceNameBytes),
                                DriverlessTxtRecord(*queue, ReadPrinterUuid(), port)};
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
