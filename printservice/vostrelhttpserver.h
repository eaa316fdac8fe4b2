// The desktop's local print service: the HTTP engine serving "/info" and "/print" to our
// own phone app and "/ipp/print" to every phone as a driverless printer, and the DNS-SD
// advertisement that lets phones find it.
// Construction, Start and destruction belong to one thread (the program's main thread);
// the handlers run on the engine's worker threads, several at once; AdvertiseThread runs
// on a thread of the object's own.
#pragma once

#include "httpengine/httpengine.h"
#include "ippprinter/ippprinter.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CDnsSdService;

// Where the replies take the desktop's cloud identity from. Called on the engine's
// workers, several at once; must answer at once, never after asking the relay.
class CCloudIdentitySource {
public:
  virtual ~CCloudIdentitySource() = default;
  // The identity to send; "" while the desktop has none.
  virtual std::string CloudUuid() const = 0;
};

// The identity as the settings store holds it. A valid one is kept for the rest of the
// run; while there is none the store is read again at most once a second, so that an
// identity the cloud code obtains later reaches the replies.
const CCloudIdentitySource& StoredCloudIdentity();

class CVostrelHttpServer {
public:
  // `identity` must outlive the object.
  explicit CVostrelHttpServer(const CCloudIdentitySource& identity = StoredCloudIdentity())
      : cloudIdentity(identity) {}
  // Stops the advertisement and the engine and waits for both.
  virtual ~CVostrelHttpServer();
  CVostrelHttpServer(const CVostrelHttpServer&) = delete;
  CVostrelHttpServer& operator=(const CVostrelHttpServer&) = delete;

  // Cleans the spool folder, starts the advertisement and the engine on `port` (of which
  // DNS-SD gets the low 16 bits). Failures show only in the engine's error log.
  void Start(uint32_t port);

private:
  // Advertisement states.
  static constexpr int kAdvertising = 0;
  static constexpr int kStopRequested = 1;
  static constexpr int kAdvertisementEnded = 2;

  // Engine handlers; `server` is the object.
  static void OnInfo(mg_conn* conn, const mg_request* request, void* server);
  static int OnUploadBegin(mg_conn* conn, const mg_request* request, void* server);
  static int OnUploadData(mg_conn* conn, const mg_request* request, const char* bytes,
                          int length, void* server);
  static void OnUploadEnd(mg_conn* conn, const mg_request* request, void* server);
  static void OnUploadAbort(mg_conn* conn, const mg_request* request, void* server);
  void SendPrintReply(mg_conn* conn, int user, int internal) const;
  static int OnIppBegin(mg_conn* conn, const mg_request* request, void* server);
  static int OnIppData(mg_conn* conn, const mg_request* request, const char* bytes, int length, void* server);
  static void OnIppEnd(mg_conn* conn, const mg_request* request, void* server);
  static void OnIppAbort(mg_conn* conn, const mg_request* request, void* server);
  static void OnIppPage(mg_conn* conn, const mg_request* request, void* server);
  static void OnIppIcon(mg_conn* conn, const mg_request* request, void* server);
  // Makes the driverless printer and registers its entries with the engine.
  void RegisterIppPrinter();

  static void AdvertiseThread(CVostrelHttpServer* server);
  // Registers until it succeeds, up to 60 attempts a second apart; false when every
  // attempt failed or a stop was requested.
  bool RegisterService(CDnsSdService& service);
  // Sleeps up to `milliseconds`; true when a stop was requested.
  bool WaitForStopRequest(int milliseconds);

  const CCloudIdentitySource& cloudIdentity;
  std::string osDescription;  // taken at Start, read by the handlers
  uint32_t port = 0;
  mg_ctx* engine = nullptr;
  std::unique_ptr<CIppPrinter> ippPrinter;  // made at Start, before the engine serves it

  std::atomic<int> advertiseState{kAdvertising};
  std::mutex stopMutex;
  std::condition_variable stopWake;
  std::thread advertiser;
};
