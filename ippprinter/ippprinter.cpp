#include "ippprinter/ippprinter.h"

#include <algorithm>
#include <ctime>

#include "base/hostinfo.h"
#include "base/spool.h"
#include "base/settings.h"
#include "ippprinter/ippcodes.h"
#include "ippprinter/ippexchange.h"
#include "ippprinter/ippresponse.h"
#include "print/printers.h"
#include "text/ascii.h"
#include "text/html.h"

namespace {

constexpr char kPrinterPath[] = "/ipp/print";
// The chosen queue is asked again at most this often.
constexpr std::chrono::seconds kQueueReadPause(2);

// The path of an ipp: or ipps: URI; nullopt for anything else.
std::optional<std::string> UriPath(const std::string& uri) {
  const size_t scheme = uri.find("://");
  if (scheme == std::string::npos) return std::nullopt;
  const std::string name = uri.substr(0, scheme);
  if (name != "ipp" && name != "ipps") return std::nullopt;
  const size_t path = uri.find('/', scheme + 3);
  if (path == std::string::npos) return std::string("/");
  return uri.substr(path, uri.find_first_of("?#", path) - path);
}

// The Host header when it is a plain host name or address, with the service port added
// when it names none; the PC's name otherwise.
std::string AuthorityFor(const IppClient& client) {
  std::string host = client.host;
  const bool plain = !host.empty() && host.size() < 256 && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == ':' || c == '[' || c == ']' || c == '_' || c == '%';
  });
  if (!plain) host = GetLocalHostName().empty() ? "localhost" : GetLocalHostName() + ".local";
  const size_t bracket = host.rfind(']');
  const size_t colon = host.rfind(':');
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) {
    host += ":" + std::to_string(client.port);
  }
  return host;
}

std::string Fingerprint(const std::optional<QueueCapabilities>& queue) {
  if (!queue) return {};
  std::string print = queue->name + '\n' + queue->makeAndModel + '\n' + queue->location + '\n' + queue->info + '\n' +
                      (queue->color ? "C" : "c") + (queue->duplex ? "D" : "d");
  for (const std::string& media : queue->media) print += '\n' + media;
  return print;
}

}  // namespace

CIppPrinter::CIppPrinter(const JobTableLimits& limits)
    : jobs_(limits),
      started_(std::chrono::steady_clock::now()),
      startDate_(static_cast<int64_t>(std::time(nullptr))),
      uuid_(ReadPrinterUuid()) {}

CIppPrinter::~CIppPrinter() = default;

std::unique_ptr<CIppExchange> CIppPrinter::Begin(const IppClient& client, int64_t announcedLength) {
  return std::make_unique<CIppExchange>(*this, client, announcedLength);
}

int32_t CIppPrinter::UpTime() const {
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
  return static_cast<int32_t>(std::min<int64_t>(elapsed.count() + 1, INT32_MAX));
}

int64_t CIppPrinter::DateOf(int32_t upTime) const { return startDate_ + upTime - 1; }

void CIppPrinter::Maintain() {
  const int32_t now = UpTime();
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (lastMaintained_ == now) return;
    lastMaintained_ = now;
  }
  const CIppJobTable::Changes changes = jobs_.Maintain(now);
  for (const std::string& path : changes.droppedDocuments) RemoveSpoolFile(path);
  for (const IppJob& job : changes.failed) {
    RecordFailure(job, job.spoolerJobId > 0 ? "the printer's queue aborted it" : job.message);
  }
}

PrinterDescription CIppPrinter::Describe(const IppClient& client) {
  PrinterDescription d;
  bool chosen = false;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    const auto now = std::chrono::steady_clock::now();
    if (!queueFingerprint_ || now - queueAsked_ >= kQueueReadPause) {
      queue_ = GetDefaultQueueCapabilities();
      queueAsked_ = now;
      std::string fingerprint = Fingerprint(queue_);
      // The first reading is the state the printer started in, not a change.
      if (queueFingerprint_ && fingerprint != *queueFingerprint_) configChangeTime_ = UpTime();
      queueFingerprint_ = std::move(fingerprint);
    }
    chosen = queue_.has_value();
    if (chosen) d.queue = *queue_;
    d.configChangeTime = configChangeTime_;
  }
  if (!chosen) {
    d.stateMessage = "No printer is chosen on this PC";
  } else if (IsOwnDriverlessEndpoint(d.queue.deviceUri)) {
    d.stateMessage = "The chosen printer is this PC's own shared printer; choose another one";
  } else {
    d.acceptingJobs = true;
  }
  for (const IppJob& job : jobs_.Jobs()) {
    if (IsFinished(job.state)) continue;
    ++d.queuedJobs;
    d.processing = d.processing || job.state == IppJobState::kProcessing;
  }
  d.computerName = GetLocalHostName();
  d.uuid = uuid_;
  d.authority = AuthorityFor(client);
  d.now = static_cast<int64_t>(std::time(nullptr));
  d.upTime = UpTime();
  d.configChangeDate = DateOf(d.configChangeTime);
  d.multipleOperationTimeOut = jobs_.Limits().multipleOperationTimeOut;
  return d;
}

CIppPrinter::Started CIppPrinter::Start(const IppMessage& request, const IppClient& client) {
  Maintain();
  Started started;
  IppMessage& response = started.response;
  response = MakeResponse(request, ippstatus::kOk);
  if (request.versionMajor != 1 && request.versionMajor != 2) {
    SetStatus(response, ippstatus::kVersionNotSupported, "IPP/1.1 and 2.0 are spoken here");
    return started;
  }
  if (request.requestId <= 0) {
    SetStatus(response, ippstatus::kBadRequest, "request-id must be 1 or more");
    return started;
  }
  // RFC 8011 section 4.1.4: the charset and then the natural language come first.
  const std::vector<IppAttribute>* first = request.groups.empty() || request.groups[0].tag != IppTag::kOperationGroup
                                               ? nullptr
                                               : &request.groups[0].attributes;
  if (first == nullptr || first->size() < 2 || (*first)[0].name != "attributes-charset" ||
      (*first)[1].name != "attributes-natural-language" || SingleValue(&(*first)[0], IppTag::kCharset) == nullptr ||
      SingleValue(&(*first)[1], IppTag::kNaturalLanguage) == nullptr) {
    SetStatus(response, ippstatus::kBadRequest, "attributes-charset and attributes-natural-language must come first");
    return started;
  }
  const std::string& charset = (*first)[0].values[0].text;
  if (!EqualsIgnoringAsciiCase(charset, "utf-8") && !EqualsIgnoringAsciiCase(charset, "us-ascii")) {
    AddUnsupported(response, (*first)[0]);
    SetStatus(response, ippstatus::kCharsetNotSupported, "only utf-8 is spoken here");
    return started;
  }

  // The printer or job the request is for.
  const IppAttribute* printerUri = OperationAttribute(request, "printer-uri");
  const IppAttribute* jobUri = OperationAttribute(request, "job-uri");
  const IppValue* target = SingleValue(printerUri != nullptr ? printerUri : jobUri, IppTag::kUri);
  const auto path = target == nullptr ? std::nullopt : UriPath(target->text);
  if (!path) {
    SetStatus(response, ippstatus::kBadRequest, "printer-uri or job-uri is missing");
    return started;
  }
  const std::string jobPrefix = std::string(kPrinterPath) + "/";
  if (printerUri != nullptr ? *path != kPrinterPath
                            : !path->starts_with(jobPrefix) || path->size() == jobPrefix.size() ||
                                  path->find_first_not_of("0123456789", jobPrefix.size()) != std::string::npos) {
    SetStatus(response, ippstatus::kNotFound, "there is no such printer or job here");
    return started;
  }

  switch (request.code) {
    case ippop::kPrintJob:
    case ippop::kValidateJob:
    case ippop::kCreateJob:
      PrintOrCreate(request, client, started);
      break;
    case ippop::kSendDocument:
      SendDocument(request, client, started);
      break;
    case ippop::kCloseJob:
      CloseJob(request, client, response);
      break;
    case ippop::kCancelJob:
      CancelJob(request, client, response);
      break;
    case ippop::kCancelMyJobs:
      CancelMyJobs(request, client, response);
      break;
    case ippop::kGetJobAttributes:
      GetJobAttributes(request, client, response);
      break;
    case ippop::kGetJobs:
      GetJobs(request, client, response);
      break;
    case ippop::kGetPrinterAttributes:
      GetPrinterAttributes(request, client, response);
      break;
    default:
      SetStatus(response, ippstatus::kOperationNotSupported, "this operation is not supported here");
  }
  return started;
}

void CIppPrinter::GetPrinterAttributes(const IppMessage& request, const IppClient& client, IppMessage& response) {
  const IppAttribute* requested = OperationAttribute(request, "requested-attributes");
  const auto words = KeywordValues(requested);
  if (requested != nullptr && !words) {
    AddUnsupported(response, *requested);
    SetStatus(response, ippstatus::kBadRequest, "requested-attributes must be keywords");
    return;
  }
  response.groups.push_back(
      SelectAttributes(BuildPrinterAttributes(Describe(client)), words.value_or(std::vector<std::string>{})));
}

std::string CIppPrinter::LandingPage(const IppClient& client) {
  const PrinterDescription d = Describe(client);
  const std::string name = EscapeHtml(PrinterNameFor(d.queue.name, d.computerName));
  const std::string uri = EscapeHtml(PrinterUri(d.authority));
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + name +
         "</title></head>\n<body><h1><img src=\"/ipp/icon.png\" alt=\"\" width=\"64\" height=\"64\"> " + name +
         "</h1>\n<p>" + (d.acceptingJobs ? "Ready to print." : EscapeHtml(d.stateMessage)) +
         "</p>\n<p>Phones, tablets and computers on this network print here with nothing to install "
         "(AirPrint, Mopria, IPP Everywhere): choose this printer in the print dialog, or add it as " +
         uri + ".</p>\n<p>" + std::to_string(d.queuedJobs) + " job(s) waiting.</p>\n</body></html>\n";
}
