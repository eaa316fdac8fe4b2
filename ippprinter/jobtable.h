// The printer's jobs: IPP job ids, whose they are, their states, and the spooler job each
// became. Finished jobs are kept for a while and then forgotten; a job made by Create-Job
// that waits longer than the multiple-operation time-out for its document is aborted.
// Times are the printer's up-time in seconds. Callable from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ippprinter/ippcodes.h"
#include "platform/spooler.h"

struct IppJob {
  int id = 0;
  std::string name;    // job-name
  std::string user;    // requesting-user-name, "anonymous" when none was given
  std::string client;  // the client's address: with the user name, who may cancel
  IppJobState state = IppJobState::kPending;
  std::string reason = "none";  // job-state-reasons
  std::string message;          // job-state-message
  std::string format;           // the document's MIME type, once known
  PrintOptions options;         // handed to the spooler with the document
  int spoolerJobId = 0;
  int32_t createdAt = 0;
  int32_t processingAt = 0;  // 0: not yet
  int32_t completedAt = 0;   // 0: not yet
  int32_t lastOperation = 0;
  bool awaitingDocument = false;  // made by Create-Job, no last document yet
  bool receiving = false;         // a document is streaming in
  std::string heldDocument;       // spooled, sent with last-document false: printed on Close-Job
  int pages = 0;                  // counted in rasters
};

struct JobTableLimits {
  int32_t multipleOperationTimeOut = 60;
  int32_t keepFinished = 600;
  size_t maxJobs = 500;
};

class CIppJobTable {
 public:
  explicit CIppJobTable(const JobTableLimits& limits = {}) : limits_(limits) {}

  const JobTableLimits& Limits() const { return limits_; }
  // Adds the job under the next id and returns it; 0 when the table holds the most jobs
  // it may and none of them is finished.
  int Add(IppJob job, int32_t now);
  std::optional<IppJob> Find(int id) const;
  // Changes the job under the lock; false when there is no such job.
  bool Update(int id, const std::function<void(IppJob&)>& change);
  // Every job, oldest first.
  std::vector<IppJob> Jobs() const;

  // What Maintain leaves to the caller.
  struct Changes {
    std::vector<std::string> droppedDocuments;  // held by jobs it aborted: files to remove
    std::vector<IppJob> failed;                 // jobs that ended aborted: to record as not printed
  };
  // Follows the spooler's jobs, forgets finished jobs kept long enough and aborts those
  // past the multiple-operation time-out.
  Changes Maintain(int32_t now);

  // Marks the job finished in `state` with this reason.
  static void Finish(IppJob& job, IppJobState state, const std::string& reason, int32_t now);

 private:
  JobTableLimits limits_;
  mutable std::mutex mutex_;
  std::vector<IppJob> jobs_;
  int nextId_ = 1;
};
