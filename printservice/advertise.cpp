// The DNS-SD advertisement of the print service, on a thread of its own.
#include "printservice/vostrelhttpserver.h"

#include "platform/dnssd.h"
#include "wire/protocol.h"

#include <chrono>
#include <cstdio>

namespace {

constexpr char kServiceDomain[] = "local.";
constexpr int kRegisterAttempts = 60;
constexpr int kRegisterRetryMs = 1000;
constexpr int kServeWaitMs = 1000;

// Another service on the network holds our name: the next one is taken, as DNS-SD
// responders do, and the change is told once on the standard error stream.
void MoveToNextName(CDnsSdService& service) {
  const std::string taken = service.Name();
  const std::string next = service.MoveToAlternativeName();
  std::fprintf(stderr, "DNS-SD: the name \"%s\" is taken on the network; announcing as \"%s\"\n", taken.c_str(),
               next.c_str());
}

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

// Keeps the service announced until a stop is requested. When the daemon's connection
// breaks (the daemon restarted), the service is registered again with fresh attempts;
// when its name is taken later (a PC of the same name joined), under the next name.
void CVostrelHttpServer::AdvertiseThread(CVostrelHttpServer* server) {
  {
    CDnsSdService service;
    while (server->RegisterService(service)) {
      DnsSdServeResult result = DnsSdServeResult::Idle;
      while (server->advertiseState == kAdvertising &&
             (result = service.Serve(kServeWaitMs)) == DnsSdServeResult::Idle) {
      }
      service.Withdraw();
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
