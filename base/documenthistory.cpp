#include "base/documenthistory.h"

#include <deque>
#include <mutex>

#include "base/eventlog.h"
#include "platform/clock.h"

namespace {

std::mutex historyMutex;
std::deque<DocumentRecord> history;  // newest first
std::function<void(const DocumentRecord&)> documentListener;

std::string Describe(const DocumentRecord& record) {
  const std::string what = "\"" + record.name + "\" from " + record.source;
  if (record.printed) return what + " printed on " + record.printer;
  return what + " not printed: " + record.reason;
}

}  // namespace

void RecordDocument(DocumentRecord record) {
  record.time = GetLocalFileTime();
  LogEvent(Describe(record));
  std::function<void(const DocumentRecord&)> listener;
  {
    std::lock_guard<std::mutex> lock(historyMutex);
    history.push_front(record);
    if (history.size() > kRecentDocumentCount) history.pop_back();
    listener = documentListener;
  }
  if (listener) listener(record);
}

std::vector<DocumentRecord> RecentDocuments() {
  std::lock_guard<std::mutex> lock(historyMutex);
  return {history.begin(), history.end()};
}

void SetDocumentListener(std::function<void(const DocumentRecord&)> listener) {
  std::lock_guard<std::mutex> lock(historyMutex);
  documentListener = std::move(listener);
}
