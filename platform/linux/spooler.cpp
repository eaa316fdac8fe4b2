#include "platform/spooler.h"

#include "platform/linux/filedescriptor.h"
#include "platform/pwgmedia.h"

#include <cups/cups.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DestDeleter {
  void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
struct DestInfoDeleter {
  void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};
using DestPtr = std::unique_ptr<cups_dest_t, DestDeleter>;
using DestInfoPtr = std::unique_ptr<cups_dinfo_t, DestInfoDeleter>;

// The whole destination list of this user, freed when it goes out of scope.
class DestList {
 public:
  DestList() { count_ = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests_); }
  ~DestList() { cupsFreeDests(count_, dests_); }
  DestList(const DestList&) = delete;
  DestList& operator=(const DestList&) = delete;
  cups_dest_t* begin() const { return dests_; }
  cups_dest_t* end() const { return dests_ + count_; }
  int count() const { return count_; }
  cups_dest_t* data() const { return dests_; }

 private:
  cups_dest_t* dests_ = nullptr;
  int count_ = 0;
};

// The effective default: LPDEST/PRINTER, then ~/.cups/lpoptions, then the server's.
DestPtr DefaultDest() { return DestPtr(cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr)); }

// A destination's option as text, "" when absent.
std::string OptionText(const cups_dest_t& dest, const char* name) {
  const char* value = cupsGetOption(name, dest.num_options, dest.options);
  return value != nullptr ? value : "";
}

}  // namespace

std::vector<PrintQueue> ListPrintQueues() {
  std::vector<PrintQueue> queues;
  for (const cups_dest_t& dest : DestList()) {
    if (dest.instance == nullptr) queues.push_back({dest.name, OptionText(dest, "device-uri")});
  }
  return queues;
}

std::string GetDefaultPrintQueue() {
  const DestPtr dest = DefaultDest();
  return dest ? std::string(dest->name) : std::string();
}

bool IsDefaultQueueStopped() {
  const DestPtr dest = DefaultDest();
  if (!dest) return false;
  const char* state = cupsGetOption("printer-state", dest->num_options, dest->options);
  return state != nullptr && std::string_view(state) == std::to_string(IPP_PSTATE_STOPPED);
}

bool SetDefaultPrintQueue(const std::string& name) {
  DestList dests;
  bool found = false;
  // Queue names are case-insensitive to CUPS; only the plain queue, not an instance,
  // becomes the default.
  for (cups_dest_t& dest : dests) {
    dest.is_default = dest.instance == nullptr && strcasecmp(dest.name, name.c_str()) == 0;
    found = found || dest.is_default;
  }
  if (!found) return false;
  return cupsSetDests2(CUPS_HTTP_DEFAULT, dests.count(), dests.data()) == 0;
}

std::optional<SheetSize> GetDefaultSheetSize() {
  const DestPtr dest = DefaultDest();
  if (!dest) return std::nullopt;
  const DestInfoPtr info(cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest.get()));
  if (!info) return std::nullopt;
  cups_size_t size{};
  if (!cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest.get(), info.get(), CUPS_MEDIA_FLAGS_DEFAULT,
                               &size) ||
      size.width <= 0 || size.length <= 0) {
    return std::nullopt;
  }
  return SheetSize{size.width, size.length};
}

bool DefaultQueueAcceptsFormat(const std::string& mimeType) {
  const DestPtr dest = DefaultDest();
  if (!dest) return false;
  const DestInfoPtr info(cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest.get()));
  return info && cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest.get(), info.get(), "document-format",
                                        mimeType.c_str());
}

namespace {

// Sends one document, read piece by piece from `source` (bytes read, 0 at the end, -1
// with errno set on failure), as a job to the default queue.
SubmitResult SubmitDocument(const std::function<ssize_t(char*, size_t)>& source, const std::string& mimeType,
                            const std::string& title, const PrintOptions& options) {
  const DestPtr dest = DefaultDest();
  if (!dest) return {0, ENODEV};

  // The caller's options first, then the user's saved options for this queue, as lp does.
  cups_option_t* jobOptions = nullptr;
  int optionCount = 0;
  for (const auto& [name, value] : options) {
    optionCount = cupsAddOption(name.c_str(), value.c_str(), optionCount, &jobOptions);
  }
  for (int i = 0; i < dest->num_options; ++i) {
    if (cupsGetOption(dest->options[i].name, optionCount, jobOptions) == nullptr) {
      optionCount = cupsAddOption(dest->options[i].name, dest->options[i].value, optionCount, &jobOptions);
    }
  }
  const int jobId = cupsCreateJob(CUPS_HTTP_DEFAULT, dest->name, title.c_str(), optionCount, jobOptions);
  cupsFreeOptions(optionCount, jobOptions);
  if (jobId <= 0) return {0, static_cast<int>(cupsLastError())};

  bool sent = cupsStartDocument(CUPS_HTTP_DEFAULT, dest->name, jobId, title.c_str(), mimeType.c_str(), 1) ==
              HTTP_STATUS_CONTINUE;
  char buffer[65536];
  ssize_t length = 0;
  while (sent && (length = source(buffer, sizeof buffer)) > 0) {
    sent = cupsWriteRequestData(CUPS_HTTP_DEFAULT, buffer, static_cast<size_t>(length)) == HTTP_STATUS_CONTINUE;
  }
  const int readError = length < 0 ? errno : 0;
  const ipp_status_t status = cupsFinishDocument(CUPS_HTTP_DEFAULT, dest->name);
  if (sent && readError == 0 && status <= IPP_STATUS_OK_CONFLICTING) return {jobId, 0};

  // A job whose document did not arrive whole must not print half of it.
  cupsCancelJob2(CUPS_HTTP_DEFAULT, dest->name, jobId, 0);
  if (readError != 0) return {0, readError};
  const int error = static_cast<int>(status > IPP_STATUS_OK_CONFLICTING ? status : cupsLastError());
  return {0, error != 0 ? error : EIO};
}

}  // namespace

SubmitResult SubmitToDefaultQueue(const std::string& path, const std::string& mimeType,
                                  const std::string& title, const PrintOptions& options) {
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) return {0, errno};
  struct stat info {};
  if (fstat(file.Get(), &info) != 0) return {0, errno};
  // An empty document prints nothing; CUPS would still accept the job.
  if (!S_ISREG(info.st_mode) || info.st_size == 0) return {0, ENODATA};
  const auto readFile = [&file](char* buffer, size_t size) { return read(file.Get(), buffer, size); };
  return SubmitDocument(readFile, mimeType, title, options);
}

SubmitResult SubmitBytesToDefaultQueue(std::string_view document, const std::string& mimeType,
                                       const std::string& title, const PrintOptions& options) {
  if (document.empty()) return {0, ENODATA};
  const auto readBytes = [&document](char* buffer, size_t size) {
    const size_t length = document.copy(buffer, size);
    document.remove_prefix(length);
    return static_cast<ssize_t>(length);
  };
  return SubmitDocument(readBytes, mimeType, title, options);
}

namespace {

struct IppDeleter {
  void operator()(ipp_t* message) const { ippDelete(message); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

// The standard name of a media the spooler lists, after its size (a borderless
// "oe_letter-fullbleed_8.5x11in" is Letter); "" for the ranges of custom sizes.
std::string StandardMediaName(const char* name) {
  const pwg_media_t* media = name != nullptr ? pwgMediaForPWG(name) : nullptr;
  if (media == nullptr || std::string_view(name).starts_with("custom_m")) return {};
  const pwg_media_t* standard = pwgMediaForSize(media->width, media->length);
  return standard != nullptr ? standard->pwg : media->pwg;
}

}  // namespace

std::optional<QueueCapabilities> GetDefaultQueueCapabilities() {
  const DestPtr dest = DefaultDest();
  if (!dest) return std::nullopt;
  QueueCapabilities capabilities;
  capabilities.name = dest->name;
  capabilities.makeAndModel = OptionText(*dest, "printer-make-and-model");
  capabilities.location = OptionText(*dest, "printer-location");
  capabilities.info = OptionText(*dest, "printer-info");
  capabilities.deviceUri = OptionText(*dest, "device-uri");

  // Media, colour and sides come from the queue's attributes (the PPD's, for a queue with one).
  const DestInfoPtr info(cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest.get()));
  if (!info) return capabilities;
  std::vector<std::string> media;
  ipp_attribute_t* supported = cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest.get(), info.get(), CUPS_MEDIA);
  for (int i = 0; i < ippGetCount(supported); ++i) media.push_back(StandardMediaName(ippGetString(supported, i, nullptr)));
  ipp_attribute_t* fallback = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest.get(), info.get(), CUPS_MEDIA);
  capabilities.media = DefaultMediaFirst(media, StandardMediaName(ippGetString(fallback, 0, nullptr)));
  capabilities.color = cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest.get(), info.get(), CUPS_PRINT_COLOR_MODE,
                                              CUPS_PRINT_COLOR_MODE_COLOR) != 0;
  capabilities.duplex = cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest.get(), info.get(), CUPS_SIDES,
                                               CUPS_SIDES_TWO_SIDED_PORTRAIT) != 0;
  return capabilities;
}

SpoolerJobState GetSpoolerJobState(int jobId) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
               ("ipp://localhost/jobs/" + std::to_string(jobId)).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-state");
  const IppPtr answer(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs/"));
  ipp_attribute_t* state = answer ? ippFindAttribute(answer.get(), "job-state", IPP_TAG_ENUM) : nullptr;
  switch (state != nullptr ? ippGetInteger(state, 0) : 0) {
    case IPP_JSTATE_PENDING: return SpoolerJobState::kPending;
    case IPP_JSTATE_HELD: return SpoolerJobState::kHeld;
    case IPP_JSTATE_PROCESSING: return SpoolerJobState::kProcessing;
    case IPP_JSTATE_STOPPED: return SpoolerJobState::kStopped;
    case IPP_JSTATE_CANCELED: return SpoolerJobState::kCanceled;
    case IPP_JSTATE_ABORTED: return SpoolerJobState::kAborted;
    case IPP_JSTATE_COMPLETED: return SpoolerJobState::kCompleted;
    default: return SpoolerJobState::kUnknown;
  }
}

bool CancelSpoolerJob(int jobId) {
  // Without a queue's name the job is found by its number alone.
  return jobId > 0 && cupsCancelJob2(CUPS_HTTP_DEFAULT, nullptr, jobId, 0) == IPP_STATUS_OK;
}
