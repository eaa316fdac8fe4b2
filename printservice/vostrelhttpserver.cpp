// Start and stop of the print service.
#include "printservice/vostrelhttpserver.h"

#include "base/eventlog.h"
#include "base/hostinfo.h"
#include "base/spool.h"
#include "platform/filesystem.h"
#include "platform/tempfolder.h"

#include <string>
#include <system_error>

namespace {

// An empty folder of the program's own in the user's state folder; when none can be made,
// a path where nothing is, which the engine serves nothing from either.
std::string EmptyDocumentRoot() {
  const std::string state = GetUserStateFolder();
  const std::string folder = state + "OlvaroDesktop/";
  const std::string root = folder + "empty-root/";
  if (!state.empty() && EnsurePrivateFolder(folder) && EnsurePrivateFolder(root)) return root;
  return "/nonexistent/olvaro-desktop/";
}

}  // namespace

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
  // The engine would serve the files of the program's folder; the service has none to
  // serve, so its root is an empty folder of its own.
  mg_set_option(engine, "root", EmptyDocumentRoot().c_str());
  mg_set_option(engine, "dir_list", "no");
  mg_set_uri_handlers(engine, "/info", nullptr, nullptr, &CVostrelHttpServer::OnInfo, this);
  mg_set_uri_handlers(engine, "/print", &CVostrelHttpServer::OnUploadBegin,
                      &CVostrelHttpServer::OnUploadData, &CVostrelHttpServer::OnUploadEnd, this);
  mg_set_abort_handler(engine, "/print", &CVostrelHttpServer::OnUploadAbort, this);
  RegisterIppPrinter();
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
