// Start and stop of the print service.
#include "printservice/vostrelhttpserver.h"

#include "base/eventlog.h"
#include "base/hostinfo.h"
#include "base/spool.h"

#include <string>
#include <system_error>

void CVostrelHttpServer::Start(uint32_t servicePort) {
  osDescription = GetOsVersionString();
  CleanSpoolFolder();
  port = servicePort;

  try {
    advertiser = std::thread(&CVostrelHttpServer::AdvertiseThread, this);
  } catch (const std::system_error&) {
    advertiseState = kAdvertisementEnded;
  }

  engine = mg_start();
  if (engine == nullptr) {
    return;
  }
  if (mg_set_option(engine, "ports", std::to_string(port).c_str()) != 1) {
    LogEvent("the print service cannot listen on port " + std::to_string(port) +
             " (another program may use it); phones cannot reach this PC");
  }
  mg_set_option(engine, "dir_list", "no");
  mg_set_uri_handlers(engine, "/info", nullptr, nullptr, &CVostrelHttpServer::OnInfo, this);
  mg_set_uri_handlers(engine, "/print", &CVostrelHttpServer::OnUploadBegin,
                      &CVostrelHttpServer::OnUploadData, &CVostrelHttpServer::OnUploadEnd, this);
}

CVostrelHttpServer::~CVostrelHttpServer() {
  // The advertisement winds down while the engine stops; neither waits for the other.
  {
    std::lock_guard<std::mutex> lock(stopMutex);
    int running = kAdvertising;
    advertiseState.compare_exchange_strong(running, kStopRequested);
  }
  stopWake.notify_all();
  if (engine != nullptr) {
    mg_stop(engine);
    engine = nullptr;
  }
  if (advertiser.joinable()) {
    advertiser.join();
  }
}
