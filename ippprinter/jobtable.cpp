#include "ippprinter/jobtable.h"

#include <algorithm>
#include <utility>

namespace {

IppJobState StateOfSpoolerJob(SpoolerJobState state, IppJobState unchanged) {
  switch (state) {
    case SpoolerJobState::kPending:
      return IppJobState::kPending;
    case SpoolerJobState::kHeld:
      return IppJobState::kPendingHeld;
    case SpoolerJobState::kProcessing:
      return IppJobState::kProcessing;
    case SpoolerJobState::kStopped:
      return IppJobState::kProcessingStopped;
    case SpoolerJobState::kCanceled:
      return IppJobState::kCanceled;
    case SpoolerJobState::kAborted:
      return IppJobState::kAborted;
    case SpoolerJobState::kCompleted:
      return IppJobState::kCompleted;
    case SpoolerJobState::kUnknown:
      break;
  }
  return unchanged;
}

const char* ReasonOf(IppJobState state) {
  switch (state) {
    case IppJobState::kPendingHeld:
      return "job-hold-until-specified";
    case IppJobState::kProcessing:
      return "job-printing";
    case IppJobState::kProcessingStopped:
      return "printer-stopped";
    case IppJobState::kCanceled:
      return "job-canceled-at-device";
    case IppJobState::kAborted:
      return "aborted-by-system";
    case IppJobState::kCompleted:
      return "job-completed-successfully";
    default:
      return "job-queued";
  }
}

}  // namespace

int CIppJobTable::Add(IppJob job, int32_t now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (jobs_.size() >= limits_.maxJobs) {
    // Room is made by forgetting the oldest finished job, never one still going.
    const auto finished = std::find_if(jobs_.begin(), jobs_.end(), [](const IppJob& j) { return IsFinished(j.state); });
    if (finished == jobs_.end()) return 0;
    jobs_.erase(finished);
  }
  job.id = nextId_++;
  job.createdAt = now;
  job.lastOperation = now;
  jobs_.push_back(std::move(job));
  return jobs_.back().id;
}

std::optional<IppJob> CIppJobTable::Find(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const IppJob& job : jobs_) {
    if (job.id == id) return job;
  }
  return std::nullopt;
}

bool CIppJobTable::Update(int id, const std::function<void(IppJob&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (IppJob& job : jobs_) {
    if (job.id == id) {
      change(job);
      return true;
    }
  }
  return false;
}

std::vector<IppJob> CIppJobTable::Jobs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_;
}

void CIppJobTable::Finish(IppJob& job, IppJobState state, const std::string& reason, int32_t now) {
  job.state = state;
  job.reason = reason;
  job.awaitingDocument = false;
  if (job.processingAt == 0) job.processingAt = now;
  job.completedAt = now;
}

CIppJobTable::Changes CIppJobTable::Maintain(int32_t now) {
  // The spooler is asked without the lock held: it may take a while to answer.
  std::vector<std::pair<int, int>> followed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const IppJob& job : jobs_) {
      if (job.spoolerJobId > 0 && !IsFinished(job.state)) followed.emplace_back(job.id, job.spoolerJobId);
    }
  }
  std::vector<std::pair<int, SpoolerJobState>> states;
  for (const auto& [id, spoolerId] : followed) states.emplace_back(id, GetSpoolerJobState(spoolerId));

  Changes changes;
  std::lock_guard<std::mutex> lock(mutex_);
  for (IppJob& job : jobs_) {
    for (const auto& [id, spoolerState] : states) {
      if (id != job.id || IsFinished(job.state)) continue;
      const IppJobState state = StateOfSpoolerJob(spoolerState, job.state);
      if (state == job.state) continue;
      if (IsFinished(state)) {
        Finish(job, state, ReasonOf(state), now);
        if (state == IppJobState::kAborted) changes.failed.push_back(job);
      } else {
        job.state = state;
        job.reason = ReasonOf(state);
        if (state == IppJobState::kProcessing && job.processingAt == 0) job.processingAt = now;
      }
    }
    if (job.awaitingDocument && !job.receiving && now - job.lastOperation > limits_.multipleOperationTimeOut) {
      Finish(job, IppJobState::kAborted, "aborted-by-system", now);
      job.message = "no document came within the multiple-operation time-out";
      if (!job.heldDocument.empty()) changes.droppedDocuments.push_back(std::exchange(job.heldDocument, {}));
      changes.failed.push_back(job);
    }
  }
  std::erase_if(
      jobs_, [&](const IppJob& job) { return IsFinished(job.state) && now - job.completedAt > limits_.keepFinished; });
  return changes;
}
