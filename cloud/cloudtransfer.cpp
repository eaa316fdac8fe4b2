#include "cloud/printercloud.h"

#include <exception>
#include <filesystem>

#include "cloud/relayaddress.h"
#include "base/documenthistory.h"
#include "base/spool.h"
#include "wire/protocol.h"

void TPrinterCloud::ProcessQueue(const std::string& answer) {
  const std::vector<std::string> lines = SplitText(answer, kQueueLineEnd);
  // After a stop every request fails at once: the rest of the answer is left alone.
  for (size_t position = 0; position < lines.size() && !stopRequested; ++position) {
    QueueTask task;
    // A line that cannot be read is skipped like any other failed job.
    if (ParseQueueLine(lines[position], static_cast<int>(position), task)) TransferJob(task);
  }
}

// Download, length check, acknowledgement, printing: each step only after the one before.
void TPrinterCloud::TransferJob(const QueueTask& task) {
  // Checked afresh for every job: the folder must still be ours before anything in it
  // is replaced.
  spoolFolder = GetSpoolFolder();
  if (spoolFolder.empty() || task.size < 0) return;
  const std::string path = spoolFolder + task.localName;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);  // an earlier file of this name is replaced
  CNewFile file = CreateSpoolFile(path);
  if (!file.IsOpen()) return;

  // Never more than the announced size: a longer body is a failed download.
  const bool downloaded = http.Get(RelayUrl(kRelayDownload + task.id), file, task.size).ok() && file.Close();
  if (!downloaded) {
    statusSink.CloudState(false);
    file.Close();
    std::filesystem::remove(path, ignored);
    return;
  }
  statusSink.CloudState(true);

  // A short download stays for inspection; the relay offers the job again.
  std::error_code sizeError;
  const auto length = std::filesystem::file_size(path, sizeError);
  if (sizeError || length != static_cast<uintmax_t>(task.size)) return;

  if (!http.Post(RelayUrl(kRelayAcknowledge), {"uuid=" + uuid, "file=" + task.file}).ok()) {
    statusSink.CloudState(false);
    return;
  }
  statusSink.CloudState(true);
  // A print method that reports failure does not stop the copies; one that throws does.
  PrintOutcome outcome;
  try {
    for (int32_t copy = 0; copy < task.copies; ++copy) {
      PrintOutcome copyOutcome = environment.printDocument(path);
      if (copy == 0 || (outcome.printed && !copyOutcome.printed)) outcome = std::move(copyOutcome);
    }
  } catch (const std::exception& error) {
    statusSink.CloudState(false);
    outcome = {false, outcome.printer, std::string("the print engine failed: ") + error.what()};
  }
  RecordDocument({0, task.name, kCloudSource, outcome.printer, outcome.printed, outcome.reason});
}
