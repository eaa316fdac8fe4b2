// The driverless printer at "/ipp/print": an IPP Everywhere print server (RFC 8011,
// PWG 5100.14) for the chosen queue. Requests come in as streams of bytes through
// CIppExchange; documents are spooled, checked and handed to the chosen queue.
// Portable: the system is reached through platform/, base/ and print/.
// Callable from any thread, several requests at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ipp/ippmessage.h"
#include "ippprinter/jobtable.h"
#include "ippprinter/printerattributes.h"

// Who sent a request and how it named the printer.
struct IppClient {
  std::string address;  // dotted IPv4
  std::string host;     // the Host header as sent, "" when none
  uint16_t port = 0;    // the service port, for a Host without one
};

// What goes back: HTTP 200 with an IPP response, or 400 without a body for bytes that
// are no IPP message.
struct IppReply {
  int httpStatus = 200;
  std::string body;
};

class CIppExchange;
struct ReceivedDocument;

class CIppPrinter {
 public:
  explicit CIppPrinter(const JobTableLimits& limits = {});
  ~CIppPrinter();
  CIppPrinter(const CIppPrinter&) = delete;
  CIppPrinter& operator=(const CIppPrinter&) = delete;

  // Starts one request; `announcedLength` is its Content-Length, -1 when chunked.
  std::unique_ptr<CIppExchange> Begin(const IppClient& client, int64_t announcedLength);

  // The page printer-more-info points at, for a client that named us `host`.
  std::string LandingPage(const IppClient& client);

 private:
  friend class CIppExchange;

  // What an operation leaves to do once its head is read.
  struct Started {
    IppMessage response;    // complete unless a document follows
    int documentJobId = 0;  // a document follows for this job
    std::string declaredFormat;
    bool lastDocument = true;
  };

  Started Start(const IppMessage& request, const IppClient& client);
  // The document of `started` has arrived (or failed); fills in the response.
  void CompleteDocument(Started& started, ReceivedDocument document, const IppClient& client);
  // The request broke off while its document came in.
  void AbandonDocument(int jobId, const IppClient& client);

  // Operations.
  void PrintOrCreate(const IppMessage& request, const IppClient& client, Started& started);
  void SendDocument(const IppMessage& request, const IppClient& client, Started& started);
  void CloseJob(const IppMessage& request, const IppClient& client, IppMessage& response);
  // Ends the job's documents: a held one goes to the queue; with none the job is aborted.
  void CloseJobDocuments(int id, const IppClient& client, const std::string& user, IppMessage& response);
  void CancelJob(const IppMessage& request, const IppClient& client, IppMessage& response);
  void CancelMyJobs(const IppMessage& request, const IppClient& client, IppMessage& response);
  void GetJobAttributes(const IppMessage& request, const IppClient& client, IppMessage& response);
  void GetJobs(const IppMessage& request, const IppClient& client, IppMessage& response);
  void GetPrinterAttributes(const IppMessage& request, const IppClient& client, IppMessage& response);

  // Hands the job's spooled document to the chosen queue and records the outcome.
  void Submit(int jobId, const std::string& path, const std::string& mimeType);
  // Records a job that printed nothing and finishes it as aborted.
  void Fail(int jobId, const std::string& why, const std::string& reason = "aborted-by-system");
  // Puts a job that printed nothing in the document history, which raises the notice.
  void RecordFailure(const IppJob& job, const std::string& why);
  void Cancel(IppJob& job);

  PrinterDescription Describe(const IppClient& client);
  IppGroup JobAttributes(const IppJob& job, const std::string& authority) const;
  int32_t UpTime() const;
  int64_t DateOf(int32_t upTime) const;
  void Maintain();

  CIppJobTable jobs_;
  const std::chrono::steady_clock::time_point started_;
  const int64_t startDate_;
  const std::string uuid_;

  // The chosen queue as last asked, and when it last changed.
  std::mutex queueMutex_;
  std::optional<QueueCapabilities> queue_;
  std::chrono::steady_clock::time_point queueAsked_{};
  std::optional<std::string> queueFingerprint_;  // nullopt until first asked
  int32_t configChangeTime_ = 1;
  int32_t lastMaintained_ = -1;
};
