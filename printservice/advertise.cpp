// The DNS-SD advertisement of the print service, on a thread of its own.
#include "printservice/vostrelhttpserver.h"

#include "platform/dnssd.h"

#include <chrono>

namespace {

constexpr char kServiceType[] = "_vostrelprint._tcp";
constexpr char kServiceDomain[] = "local.";
constexpr int kRegisterAttempts = 60;
constexpr int kRegisterRetryMs = 1000;
constexpr int kServeWaitMs = 1000;

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
    if (service.Register(kServiceType, kServiceDomain, advertisedPort) == 0) {
      return true;
    }
    if (WaitForStopRequest(kRegisterRetryMs)) {
      return false;
    }
  }
  return false;
}

// Keeps the service announced until a stop is requested. When the daemon's connection
// breaks (the daemon restarted), the service is registered again with fresh attempts.
void CVostrelHttpServer::AdvertiseThread(CVostrelHttpServer* server) {
  {
    CDnsSdService service;
    while (server->RegisterService(service)) {
      while (server->advertiseState == kAdvertising &&
             service.Serve(kServeWaitMs) == DnsSdServeResult::Idle) {
      }
      service.Withdraw();
      // A daemon that refuses the service at once must not be asked again in a tight loop.
      if (server->WaitForStopRequest(kRegisterRetryMs)) {
        break;
      }
    }
  }
  server->advertiseState = kAdvertisementEnded;
}
