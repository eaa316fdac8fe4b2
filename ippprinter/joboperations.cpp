// The job operations of the printer: making jobs, taking their documents, handing them
// to the chosen queue, cancelling and reporting them.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <utility>

#include "base/documenthistory.h"
#include "base/eventlog.h"
#include "base/spool.h"
#include "ippprinter/documentreceiver.h"
#include "ippprinter/ippprinter.h"
#include "ippprinter/ippresponse.h"
#include "ippprinter/jobticket.h"
#include "print/printer.h"
#include "print/printers.h"

namespace {

// How a job from this client is described in the log and the document history.
// Job attributes as requested: the groups "all", "job-description" and "job-template" are
// every attribute a job has here.
IppGroup SelectJobAttributes(const IppGroup& all, std::vector<std::string> requested) {
  for (std::string& word : requested) {
    if (word == "job-description" || word == "job-template") word = "all";
  }
  return SelectAttributes(all, requested);
}

std::string SourceOf(const std::string& address) { return address + ", driverless"; }

std::string UserOf(const IppMessage& request) {
  const auto user = NameValue(OperationAttribute(request, "requesting-user-name"));
  return user && !user->empty() ? *user : "anonymous";
}

bool IsOwner(const IppJob& job, const IppClient& client, const std::string& user) {
  // A user name alone is no identity: the job must also come from the same address.
  return job.client == client.address && job.user == user;
}

// Changes the job when it is this client's under the table's lock: `change` returns 0 or
// its refusal. Not found and not authorized are refused before it is asked.
uint16_t UpdateOwnJob(CIppJobTable& jobs, int id, const IppClient& client, const std::string& user,
                      const std::function<uint16_t(IppJob&)>& change) {
  uint16_t refusal = ippstatus::kNotFound;
  jobs.Update(id, [&](IppJob& job) { refusal = IsOwner(job, client, user) ? change(job) : ippstatus::kNotAuthorized; });
  return refusal;
}

// The job a request is for, from job-uri or job-id; 0 when it names none.
int TargetJobId(const IppMessage& request) {
  if (const IppValue* uri = SingleValue(OperationAttribute(request, "job-uri"), IppTag::kUri)) {
    const size_t slash = uri->text.rfind('/');
    return std::atoi(uri->text.c_str() + slash + 1);
  }
  const IppValue* id = SingleValue(OperationAttribute(request, "job-id"), IppTag::kInteger);
  return id != nullptr && id->integer > 0 ? id->integer : 0;
}

const char* StateMessageOf(IppJobState state) {
  switch (state) {
    case IppJobState::kPending:
      return "Waiting to be printed";
    case IppJobState::kPendingHeld:
      return "Held";
    case IppJobState::kProcessing:
      return "Printing";
    case IppJobState::kProcessingStopped:
      return "The printer is stopped";
    case IppJobState::kCanceled:
      return "Canceled";
    case IppJobState::kAborted:
      return "Not printed";
    case IppJobState::kCompleted:
      return "Printed";
  }
  return "";
}

}  // namespace

IppGroup CIppPrinter::JobAttributes(const IppJob& job, const std::string& authority) const {
  IppGroup group;
  group.tag = IppTag::kJobGroup;
  auto add = [&group](std::string name, IppValue value) {
    AddIppAttribute(group, std::move(name), {std::move(value)});
  };
  auto time = [&](int32_t at) { return at == 0 ? IppOutOfBand(IppTag::kNoValue) : IppInteger(at); };
  auto date = [&](int32_t at) { return at == 0 ? IppOutOfBand(IppTag::kNoValue) : IppDateTime(DateOf(at)); };
  add("job-id", IppInteger(job.id));
  add("job-uri", IppString(IppTag::kUri, JobUri(authority, job.id)));
  add("job-printer-uri", IppString(IppTag::kUri, PrinterUri(authority)));
  add("job-name", IppString(IppTag::kNameWithoutLanguage, job.name));
  add("job-originating-user-name", IppString(IppTag::kNameWithoutLanguage, job.user));
  add("job-state", IppEnum(static_cast<int32_t>(job.state)));
  add("job-state-reasons", IppString(IppTag::kKeyword, job.reason));
  add("job-state-message",
      IppString(IppTag::kTextWithoutLanguage, job.message.empty() ? StateMessageOf(job.state) : job.message));
  add("job-printer-up-time", IppInteger(UpTime()));
  add("time-at-creation", IppInteger(job.createdAt));
  add("time-at-processing", time(job.processingAt));
  add("time-at-completed", time(job.completedAt));
  add("date-time-at-creation", IppDateTime(DateOf(job.createdAt)));
  add("date-time-at-processing", date(job.processingAt));
  add("date-time-at-completed", date(job.completedAt));
  add("number-of-documents", IppInteger(job.awaitingDocument && job.heldDocument.empty() ? 0 : 1));
  if (!job.format.empty()) add("document-format", IppString(IppTag::kMimeMediaType, job.format));
  if (job.pages > 0) add("job-impressions", IppInteger(job.pages));
  return group;
}

void CIppPrinter::PrintOrCreate(const IppMessage& request, const IppClient& client, Started& started) {
  IppMessage& response = started.response;
  const PrinterDescription printer = Describe(client);
  if (!printer.acceptingJobs) {
    SetStatus(response, ippstatus::kNotAcceptingJobs, printer.stateMessage);
    return;
  }
  JobTicket ticket = ReadJobTicket(request, printer.queue, response);
  SetStatus(response, ticket.status, ticket.message);
  if (ticket.status != ippstatus::kOk && ticket.status != ippstatus::kOkIgnoredOrSubstituted) return;
  if (request.code == ippop::kValidateJob) return;

  IppJob job;
  job.name = ticket.name;
  job.user = UserOf(request);
  job.client = client.address;
  job.options = std::move(ticket.options);
  job.awaitingDocument = request.code == ippop::kCreateJob;
  job.receiving = request.code == ippop::kPrintJob;
  job.reason = job.receiving ? "job-incoming" : "job-data-insufficient";
  const int id = jobs_.Add(std::move(job), UpTime());
  if (id == 0) {
    SetStatus(response, ippstatus::kTooManyJobs, "too many jobs are going on; try again later");
    return;
  }
  if (request.code == ippop::kPrintJob) {
    started.documentJobId = id;
    started.declaredFormat = ticket.format;
  }
  LogEvent("driverless job " + std::to_string(id) + " \"" + ticket.name + "\" from " + SourceOf(client.address) +
           ", user " + UserOf(request));
  response.groups.push_back(JobAttributes(*jobs_.Find(id), printer.authority));
}

void CIppPrinter::SendDocument(const IppMessage& request, const IppClient& client, Started& started) {
  IppMessage& response = started.response;
  const int id = TargetJobId(request);
  const IppValue* last = SingleValue(OperationAttribute(request, "last-document"), IppTag::kBoolean);
  if (id == 0 || last == nullptr) {
    SetStatus(response, ippstatus::kBadRequest, "job-id and last-document are needed");
    return;
  }
  std::string format;
  const uint16_t status = CheckDocumentAttributes(request, format, response);
  if (status != ippstatus::kOk) {
    SetStatus(response, status, "the document format or compression is not supported");
    return;
  }
  const uint16_t refusal = UpdateOwnJob(jobs_, id, client, UserOf(request), [&](IppJob& job) {
    if (!job.heldDocument.empty()) return ippstatus::kMultipleDocumentJobsNotSupported;
    if (!job.awaitingDocument || job.receiving) return ippstatus::kNotPossible;
    job.receiving = true;
    job.reason = "job-incoming";
    job.lastOperation = UpTime();
    return ippstatus::kOk;
  });
  if (refusal != ippstatus::kOk) {
    SetStatus(response, refusal, "this job takes no document from this client now");
    return;
  }
  started.documentJobId = id;
  started.declaredFormat = format;
  started.lastDocument = last->integer != 0;
}

void CIppPrinter::CompleteDocument(Started& started, ReceivedDocument document, const IppClient& client) {
  const int id = started.documentJobId;
  bool canceled = false;
  jobs_.Update(id, [&](IppJob& job) {
    job.receiving = false;
    job.lastOperation = UpTime();
    canceled = IsFinished(job.state);
    if (document.status == 0) {
      job.format = MimeTypeOf(document.format);
      job.pages = static_cast<int>(document.pages);
    }
  });
  const std::optional<IppJob> job = jobs_.Find(id);
  if (!job || canceled) {
    if (!document.path.empty()) RemoveSpoolFile(document.path);
    SetStatus(started.response, ippstatus::kJobCanceled, "the job was canceled while its document came in");
  } else if (document.empty && job->awaitingDocument) {
    // A Send-Document without data only closes the job (or leaves it open).
    if (started.lastDocument) CloseJobDocuments(id, client, job->user, started.response);
  } else if (document.status != 0) {
    Fail(id, document.error, "document-format-error");
    SetStatus(started.response, document.status, document.error);
  } else if (!started.lastDocument) {
    jobs_.Update(id, [&](IppJob& j) { j.heldDocument = document.path; });
  } else {
    Submit(id, document.path, MimeTypeOf(document.format));
  }
  // The response tells the job as it stands now.
  if (const std::optional<IppJob> now = jobs_.Find(id)) {
    std::erase_if(started.response.groups, [](const IppGroup& g) { return g.tag == IppTag::kJobGroup; });
    started.response.groups.push_back(JobAttributes(*now, Describe(client).authority));
  }
}

void CIppPrinter::AbandonDocument(int jobId, const IppClient&) {
  jobs_.Update(jobId, [](IppJob& job) { job.receiving = false; });
  Fail(jobId, "the client broke off while sending the document");
}

void CIppPrinter::Submit(int jobId, const std::string& path, const std::string& mimeType) {
  const std::optional<IppJob> job = jobs_.Find(jobId);
  if (!job) return;
  const std::optional<QueueCapabilities> queue = GetDefaultQueueCapabilities();
  SubmitResult result;
  std::string why;
  if (!queue) {
    why = "no printer is chosen on this PC";
  } else if (IsOwnDriverlessEndpoint(queue->deviceUri)) {
    why = "the chosen printer is this PC's own shared printer";
  } else {
    result = PrintDriverlessDocument(path, mimeType, job->name, job->options);
    if (result.error != 0) why = "the spooler refused it (error " + std::to_string(result.error) + ")";
  }
  // The spooler holds its own copy once it took the job.
  RemoveSpoolFile(path);
  if (!why.empty()) {
    Fail(jobId, why);
    return;
  }
  jobs_.Update(jobId, [&](IppJob& j) {
    j.spoolerJobId = result.jobId;
    j.awaitingDocument = false;
    j.state = IppJobState::kPending;
    j.reason = "job-queued";
    // A hand-over with no spooler job to follow is as far as the job goes here.
    if (result.jobId <= 0) CIppJobTable::Finish(j, IppJobState::kCompleted, "job-completed-successfully", UpTime());
  });
  RecordDocument({0, job->name, SourceOf(job->client), queue->name, true, {}});
}

void CIppPrinter::Fail(int jobId, const std::string& why, const std::string& reason) {
  std::optional<IppJob> failed;
  std::string held;
  jobs_.Update(jobId, [&](IppJob& job) {
    if (IsFinished(job.state)) return;
    CIppJobTable::Finish(job, IppJobState::kAborted, reason, UpTime());
    job.message = why;
    held = std::exchange(job.heldDocument, {});
    failed = job;
  });
  if (!held.empty()) RemoveSpoolFile(held);
  if (failed) RecordFailure(*failed, why);
}

void CIppPrinter::RecordFailure(const IppJob& job, const std::string& why) {
  const std::optional<QueueCapabilities> queue = GetDefaultQueueCapabilities();
  RecordDocument({0, job.name, SourceOf(job.client), queue ? queue->name : "", false, why});
}

void CIppPrinter::Cancel(IppJob& job) {
  if (job.spoolerJobId > 0) CancelSpoolerJob(job.spoolerJobId);
  CIppJobTable::Finish(job, IppJobState::kCanceled, "job-canceled-by-user", UpTime());
  if (!job.heldDocument.empty()) RemoveSpoolFile(std::exchange(job.heldDocument, {}));
}

void CIppPrinter::CloseJob(const IppMessage& request, const IppClient& client, IppMessage& response) {
  const int id = TargetJobId(request);
  if (id == 0) {
    SetStatus(response, ippstatus::kBadRequest, "job-id is needed");
    return;
  }
  CloseJobDocuments(id, client, UserOf(request), response);
}

void CIppPrinter::CloseJobDocuments(int id, const IppClient& client, const std::string& user, IppMessage& response) {
  std::string held;
  std::string format;
  const uint16_t refusal = UpdateOwnJob(jobs_, id, client, user, [&](IppJob& job) {
    if (IsFinished(job.state) || !job.awaitingDocument || job.receiving) return ippstatus::kNotPossible;
    job.awaitingDocument = false;
    held = std::exchange(job.heldDocument, {});
    format = job.format;
    return ippstatus::kOk;
  });
  if (refusal != ippstatus::kOk) {
    SetStatus(response, refusal, "this job cannot be closed by this client now");
    return;
  }
  if (held.empty()) {
    Fail(id, "the job was closed without a document");
  } else {
    Submit(id, held, format);
  }
  std::erase_if(response.groups, [](const IppGroup& g) { return g.tag == IppTag::kJobGroup; });
  response.groups.push_back(JobAttributes(*jobs_.Find(id), Describe(client).authority));
}

void CIppPrinter::CancelJob(const IppMessage& request, const IppClient& client, IppMessage& response) {
  const int id = TargetJobId(request);
  if (id == 0) {
    SetStatus(response, ippstatus::kBadRequest, "job-id is needed");
    return;
  }
  const uint16_t refusal = UpdateOwnJob(jobs_, id, client, UserOf(request), [&](IppJob& job) {
    if (IsFinished(job.state)) return ippstatus::kNotPossible;
    Cancel(job);
    return ippstatus::kOk;
  });
  if (refusal != ippstatus::kOk) {
    SetStatus(response, refusal, "this job cannot be canceled by this client");
    return;
  }
  LogEvent("driverless job " + std::to_string(id) + " canceled by " + SourceOf(client.address));
}

void CIppPrinter::CancelMyJobs(const IppMessage& request, const IppClient& client, IppMessage& response) {
  const std::string user = UserOf(request);
  std::vector<int> named;
  if (const IppAttribute* ids = OperationAttribute(request, "job-ids")) {
    for (const IppValue& value : ids->values) {
      if (value.tag != IppTag::kInteger) {
        SetStatus(response, ippstatus::kBadRequest, "job-ids must be integers");
        return;
      }
      const std::optional<IppJob> job = jobs_.Find(value.integer);
      if (!job || !IsOwner(*job, client, user)) {
        AddUnsupported(response, *ids);
        SetStatus(response, job ? ippstatus::kNotAuthorized : ippstatus::kNotFound,
                  "job " + std::to_string(value.integer) + " is not one of this client's jobs");
        return;
      }
      named.push_back(value.integer);
    }
  }
  for (const IppJob& listed : jobs_.Jobs()) {
    if (!named.empty() && std::find(named.begin(), named.end(), listed.id) == named.end()) continue;
    jobs_.Update(listed.id, [&](IppJob& job) {
      if (IsOwner(job, client, user) && !IsFinished(job.state)) Cancel(job);
    });
  }
}

void CIppPrinter::GetJobAttributes(const IppMessage& request, const IppClient& client, IppMessage& response) {
  const int id = TargetJobId(request);
  const std::optional<IppJob> job = jobs_.Find(id);
  if (id == 0 || !job) {
    SetStatus(response, id == 0 ? ippstatus::kBadRequest : ippstatus::kNotFound, "there is no such job");
    return;
  }
  const auto words = KeywordValues(OperationAttribute(request, "requested-attributes"));
  response.groups.push_back(
      SelectJobAttributes(JobAttributes(*job, Describe(client).authority), words.value_or(std::vector<std::string>{})));
}

void CIppPrinter::GetJobs(const IppMessage& request, const IppClient& client, IppMessage& response) {
  std::string which = "not-completed";
  if (const IppAttribute* attribute = OperationAttribute(request, "which-jobs")) {
    const IppValue* value = SingleValue(attribute, IppTag::kKeyword);
    if (value == nullptr || (value->text != "completed" && value->text != "not-completed" && value->text != "all")) {
      AddUnsupported(response, *attribute);
      SetStatus(response, ippstatus::kAttributesOrValuesNotSupported, "which-jobs: completed, not-completed or all");
      return;
    }
    which = value->text;
  }
  const IppValue* myJobs = SingleValue(OperationAttribute(request, "my-jobs"), IppTag::kBoolean);
  const IppValue* limit = SingleValue(OperationAttribute(request, "limit"), IppTag::kInteger);
  const auto words = KeywordValues(OperationAttribute(request, "requested-attributes"));
  const std::vector<std::string> requested = words.value_or(std::vector<std::string>{"job-id", "job-uri"});
  const std::string user = UserOf(request);
  const std::string authority = Describe(client).authority;

  std::vector<IppJob> jobs = jobs_.Jobs();
  // Jobs still to print in the order they print; finished ones the latest first.
  std::stable_sort(jobs.begin(), jobs.end(), [](const IppJob& a, const IppJob& b) {
    if (IsFinished(a.state) != IsFinished(b.state)) return !IsFinished(a.state);
    return IsFinished(a.state) ? a.id > b.id : a.id < b.id;
  });
  int listed = 0;
  for (const IppJob& job : jobs) {
    if (limit != nullptr && limit->integer > 0 && listed >= limit->integer) break;
    if ((which == "completed" && !IsFinished(job.state)) || (which == "not-completed" && IsFinished(job.state))) {
      continue;
    }
    if (myJobs != nullptr && myJobs->integer != 0 && !IsOwner(job, client, user)) continue;
    response.groups.push_back(SelectJobAttributes(JobAttributes(job, authority), requested));
    ++listed;
  }
}
