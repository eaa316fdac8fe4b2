// The print spooler: its queues, this user's default queue, the default queue's sheet
// size and job submission. Callable from any thread; each thread talks to the spooler
// over its own connection.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A queue and where it sends its jobs ("ipp://...", "usb://...", a Windows port name).
struct PrintQueue {
  std::string name;
  std::string deviceUri;  // "" when the spooler does not say
};

// The local queues and the connected remote ones, in the spooler's order.
std::vector<PrintQueue> ListPrintQueues();

// The queue that jobs go to when none is named; empty when there is none.
std::string GetDefaultPrintQueue();

// True when the default queue is stopped: it takes jobs but prints none until someone
// starts it again.
bool IsDefaultQueueStopped();

// Makes `name` this user's default queue; false when it could not be stored.
bool SetDefaultPrintQueue(const std::string& name);

// The rest belongs to the print methods that submit to the spooler themselves (Linux);
// on Windows GDI and outside programs print (platform/win/print/).

// The default queue's default sheet, in hundredths of a millimetre.
struct SheetSize {
  int width = 0;
  int length = 0;
};
std::optional<SheetSize> GetDefaultSheetSize();

// True when the default queue accepts documents of this MIME type.
bool DefaultQueueAcceptsFormat(const std::string& mimeType);

// Outcome of a submission: the job's number, or a non-zero error (an errno value for
// local failures, the spooler's status code when it refused the job).
struct SubmitResult {
  int jobId = 0;
  int error = 0;
};

using PrintOptions = std::vector<std::pair<std::string, std::string>>;

// Sends the file as one job of the given MIME type and title to the default queue.
SubmitResult SubmitToDefaultQueue(const std::string& path, const std::string& mimeType, const std::string& title,
                                  const PrintOptions& options = {});

// Sends `document` itself (already in memory) the same way.
SubmitResult SubmitBytesToDefaultQueue(std::string_view document, const std::string& mimeType, const std::string& title,
                                       const PrintOptions& options = {});

// The default queue as a driverless printer describes it to phones.
struct QueueCapabilities {
  std::string name;
  std::string makeAndModel;        // "" when the spooler does not say
  std::string location;
  std::string info;
  std::string deviceUri;           // where the queue sends its jobs
  std::vector<std::string> media;  // PWG media names ("iso_a4_210x297mm"), the default first;
                                   // empty when the queue says nothing
  bool color = false;
  bool duplex = false;
};
std::optional<QueueCapabilities> GetDefaultQueueCapabilities();

// Where a submitted job stands. kUnknown when the spooler does not know the job (Windows
// forgets a job once it has printed it).
enum class SpoolerJobState { kPending, kHeld, kProcessing, kStopped, kCanceled, kAborted, kCompleted, kUnknown };
SpoolerJobState GetSpoolerJobState(int jobId);
// Cancels a job this program submitted; false when the spooler refused or has no such job.
bool CancelSpoolerJob(int jobId);
