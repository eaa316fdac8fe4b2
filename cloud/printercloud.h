// The cloud job poller: a background thread that announces the desktop to the relay,
// polls its job queue every 60 seconds and downloads, acknowledges and prints the jobs.
// Construction, Resume, RequestStop, WaitFor and destruction belong to the owner's
// thread; Execute, PollQueue and ProcessQueue run on the poller's thread (tests may call
// PollQueue and ProcessQueue directly on a poller that was never resumed).
#pragma once

#include "platform/httpclient.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Receives the poller's reports, synchronously on the poller's thread; the poller waits
// until each call returns. An owner must not block the thread that serves these calls
// while it waits for the poller.
class CCloudStatusSink {
public:
  virtual ~CCloudStatusSink() = default;
  // True while a queue pass runs, false at its end and after a failed exchange.
  virtual void CloudBusy(bool busy) = 0;
  // True when the last exchange with the API server succeeded.
  virtual void CloudState(bool connected) = 0;
};

// What the poller takes from the rest of the program; tests replace these.
struct CloudEnvironment {
  std::function<bool(const std::string& path)> printFile;
  std::function<std::string()> buildNotHaveList;
  std::function<std::vector<std::string>()> localIPv4Addresses;
  std::function<std::string()> hostName;
};

// The print engine and the host information of this program.
CloudEnvironment DefaultCloudEnvironment();

// One job of a queue answer.
struct QueueTask {
  std::string id;         // download key
  std::string file;       // server file name, sent back with the acknowledgement
  std::string localName;  // "CloudPrint_" + position + "_" + sanitised document name
  int64_t size = 0;       // expected length in bytes
  int32_t copies = 1;     // 1 to 99
};

// Splits `text` at each `delimiter`; empty for an empty text. A last item of one
// character is dropped when it is "0" or the delimiter.
std::vector<std::string> SplitText(const std::string& text, char delimiter);

// Fills `task` from line number `position` of a queue answer; false when the line is
// empty, names no document, or its size or copies field is not a decimal 32-bit integer.
bool ParseQueueLine(const std::string& line, int position, QueueTask& task);

class TPrinterCloud {
public:
  // Suspended until Resume; `statusSink` must outlive the poller.
  TPrinterCloud(CCloudStatusSink& statusSink, const std::string& uuid,
                CloudEnvironment environment = DefaultCloudEnvironment());
  // Stops the poller and waits for it.
  ~TPrinterCloud();
  TPrinterCloud(const TPrinterCloud&) = delete;
  TPrinterCloud& operator=(const TPrinterCloud&) = delete;

  // Starts the thread (once).
  void Resume();
  // Sets stopRequested and cuts the pause and a request under way short; the rest of a
  // pass fails its requests at once.
  void RequestStop();
  // Waits for the thread to end.
  void WaitFor();

  // The thread body: announcement, then queue passes 60 seconds apart until stopped.
  // Returns at once, without a request, when the identity is not valid.
  void Execute();
  // One queue pass.
  void PollQueue();
  // Downloads, acknowledges and prints the jobs of one non-empty queue answer.
  void ProcessQueue(const std::string& answer);

  // The only condition the loop tests; noticed within a second during the pause.
  std::atomic<bool> stopRequested{false};

private:
  void Announce();
  void TransferJob(const QueueTask& task);
  void Pause();

  CHttpClient http;
  CCloudStatusSink& statusSink;
  const std::string uuid;
  std::string spoolFolder;  // checked afresh before each job is written
  CloudEnvironment environment;

  std::mutex pauseMutex;
  std::condition_variable pauseWake;
  std::thread thread;
};
