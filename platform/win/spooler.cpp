// The Windows spooler: printers, the user's default printer, the default printer's
// capabilities and the jobs on it. Jobs themselves are drawn with GDI or handed to
// outside programs (platform/win/print/).
#include "platform/spooler.h"

#include <vector>
#include <windows.h>
#include <winspool.h>

#include "platform/pwgmedia.h"
#include "platform/win/widetext.h"

namespace {

// A printer opened for reading its settings and its jobs; closed when it goes out of scope.
class OpenedPrinter {
 public:
  explicit OpenedPrinter(std::wstring name) {
    if (!name.empty() && !OpenPrinterW(name.data(), &handle_, nullptr)) handle_ = nullptr;
  }
  ~OpenedPrinter() {
    if (handle_) ClosePrinter(handle_);
  }
  OpenedPrinter(const OpenedPrinter&) = delete;
  OpenedPrinter& operator=(const OpenedPrinter&) = delete;
  HANDLE Get() const { return handle_; }

  // The printer's information at `level` (PRINTER_INFO_<level>); empty when it cannot be read.
  std::vector<unsigned char> Info(DWORD level) const {
    DWORD needed = 0;
    if (!handle_) return {};
    GetPrinterW(handle_, level, nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed);
    if (needed == 0 || !GetPrinterW(handle_, level, buffer.data(), needed, &needed)) return {};
    return buffer;
  }

 private:
  HANDLE handle_ = nullptr;
};

std::string Utf8OrEmpty(const wchar_t* text) { return text ? ToUtf8(text) : std::string(); }

// The local printers and connections at `level` (PRINTER_INFO_<level>), with their count.
std::vector<unsigned char> EnumeratedPrinters(DWORD level, DWORD& count) {
  const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  DWORD needed = 0;
  count = 0;
  EnumPrintersW(flags, nullptr, level, nullptr, 0, &needed, &count);
  std::vector<unsigned char> buffer(needed);
  if (needed == 0 || !EnumPrintersW(flags, nullptr, level, buffer.data(), needed, &needed, &count)) {
    count = 0;
    return {};
  }
  return buffer;
}

// The driver's paper sizes as PWG media names, the one of the printer's default settings first.
std::vector<std::string> DriverMedia(const PRINTER_INFO_2W& printer) {
  const int count = DeviceCapabilitiesW(printer.pPrinterName, printer.pPortName, DC_PAPERS, nullptr, nullptr);
  if (count <= 0 || DeviceCapabilitiesW(printer.pPrinterName, printer.pPortName, DC_PAPERSIZE, nullptr, nullptr) != count) {
    return {};
  }
  std::vector<WORD> papers(static_cast<size_t>(count));
  std::vector<POINT> sizes(static_cast<size_t>(count));  // tenths of a millimetre
  if (DeviceCapabilitiesW(printer.pPrinterName, printer.pPortName, DC_PAPERS, reinterpret_cast<LPWSTR>(papers.data()),
                          nullptr) != count ||
      DeviceCapabilitiesW(printer.pPrinterName, printer.pPortName, DC_PAPERSIZE, reinterpret_cast<LPWSTR>(sizes.data()),
                          nullptr) != count) {
    return {};
  }
  std::vector<std::string> names;
  std::string defaultName;
  for (size_t i = 0; i < papers.size(); ++i) {
    names.push_back(PwgMediaNameForSize(sizes[i].x * 10, sizes[i].y * 10));
    if (printer.pDevMode && (printer.pDevMode->dmFields & DM_PAPERSIZE) && printer.pDevMode->dmPaperSize == papers[i]) {
      defaultName = names.back();
    }
  }
  return DefaultMediaFirst(names, defaultName);
}

// Kept after printing; mingw's headers lack the name.
constexpr DWORD kJobStatusRetained = 0x2000;

SpoolerJobState JobStateOf(DWORD status) {
  if (status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) return SpoolerJobState::kCanceled;
  if (status & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE | kJobStatusRetained)) return SpoolerJobState::kCompleted;
  if (status & (JOB_STATUS_ERROR | JOB_STATUS_OFFLINE | JOB_STATUS_PAPEROUT | JOB_STATUS_BLOCKED_DEVQ |
                JOB_STATUS_USER_INTERVENTION)) {
    return SpoolerJobState::kStopped;
  }
  if (status & JOB_STATUS_PAUSED) return SpoolerJobState::kHeld;
  if (status & (JOB_STATUS_PRINTING | JOB_STATUS_SPOOLING)) return SpoolerJobState::kProcessing;
  return SpoolerJobState::kPending;
}

// Job numbers belong to a printer: the default printer is asked first, then the others.
template <typename Act>
bool OnPrinterWithJob(int jobId, Act act) {
  std::vector<std::wstring> names{ToWide(GetDefaultPrintQueue())};
  for (const PrintQueue& queue : ListPrintQueues()) names.push_back(ToWide(queue.name));
  for (const std::wstring& name : names) {
    const OpenedPrinter printer(name);
    DWORD needed = 0;
    if (!printer.Get()) continue;
    GetJobW(printer.Get(), static_cast<DWORD>(jobId), 1, nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed);
    if (needed != 0 && GetJobW(printer.Get(), static_cast<DWORD>(jobId), 1, buffer.data(), needed, &needed)) {
      return act(printer.Get(), *reinterpret_cast<const JOB_INFO_1W*>(buffer.data()));
    }
  }
  return false;
}

}  // namespace

std::vector<PrintQueue> ListPrintQueues() {
  DWORD count = 0;
  const std::vector<unsigned char> buffer = EnumeratedPrinters(2, count);
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  std::vector<PrintQueue> queues;
  for (DWORD i = 0; i < count; ++i) queues.push_back({Utf8OrEmpty(printers[i].pPrinterName), Utf8OrEmpty(printers[i].pPortName)});
  return queues;
}

std::string GetDefaultPrintQueue() {
  DWORD length = 0;
  GetDefaultPrinterW(nullptr, &length);
  std::wstring name(length, L'\0');
  if (length == 0 || !GetDefaultPrinterW(name.data(), &length)) return {};
  name.resize(length - 1);
  return ToUtf8(name);
}

bool SetDefaultPrintQueue(const std::string& name) { return SetDefaultPrinterW(ToWide(name).c_str()) != 0; }

bool IsDefaultQueueStopped() {
  const std::vector<unsigned char> info = OpenedPrinter(ToWide(GetDefaultPrintQueue())).Info(6);
  return !info.empty() && (reinterpret_cast<const PRINTER_INFO_6*>(info.data())->dwStatus & PRINTER_STATUS_PAUSED) != 0;
}

std::optional<QueueCapabilities> GetDefaultQueueCapabilities() {
  const std::vector<unsigned char> info = OpenedPrinter(ToWide(GetDefaultPrintQueue())).Info(2);
  if (info.empty()) return std::nullopt;
  const auto& printer = *reinterpret_cast<const PRINTER_INFO_2W*>(info.data());
  QueueCapabilities capabilities;
  capabilities.name = Utf8OrEmpty(printer.pPrinterName);
  capabilities.makeAndModel = Utf8OrEmpty(printer.pDriverName);
  capabilities.location = Utf8OrEmpty(printer.pLocation);
  capabilities.info = Utf8OrEmpty(printer.pComment);
  capabilities.deviceUri = Utf8OrEmpty(printer.pPortName);
  capabilities.media = DriverMedia(printer);
  capabilities.color = DeviceCapabilitiesW(printer.pPrinterName, printer.pPortName, DC_COLORDEVICE, nullptr, nullptr) == 1;
  capabilities.duplex = DeviceCapabilitiesW(printer.pPrinterName, printer.pPortName, DC_DUPLEX, nullptr, nullptr) == 1;
  return capabilities;
}

SpoolerJobState GetSpoolerJobState(int jobId) {
  SpoolerJobState state = SpoolerJobState::kUnknown;
  OnPrinterWithJob(jobId, [&state](HANDLE, const JOB_INFO_1W& job) {
    state = JobStateOf(job.Status);
    return true;
  });
  return state;
}

bool CancelSpoolerJob(int jobId) {
  return jobId > 0 && OnPrinterWithJob(jobId, [jobId](HANDLE printer, const JOB_INFO_1W&) {
           return SetJobW(printer, static_cast<DWORD>(jobId), 0, nullptr, JOB_CONTROL_DELETE) != 0;
         });
}
