// What became of the documents this run received: the last 20, for the desktop's
// "Recent documents…" window and its failure notifications. Every outcome is also one
// line of the event log. Callable from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Where documents that did not come from a phone on the LAN came from.
constexpr char kCloudSource[] = "cloud";

struct DocumentRecord {
  uint64_t time = 0;    // local-time FILETIME of the outcome
  std::string name;     // the document's name as its sender gave it
  std::string source;   // the phone's IPv4 address, or kCloudSource
  std::string printer;  // the queue it went to, "" when there was none
  bool printed = false; // handed to the printer
  std::string reason;   // why it was not printed
};

// How many records RecentDocuments keeps.
constexpr size_t kRecentDocumentCount = 20;

// Keeps `record` (its time set now), logs it, and tells the listener.
void RecordDocument(DocumentRecord record);

// The kept records, newest first.
std::vector<DocumentRecord> RecentDocuments();

// Called on the recording thread after each record; one listener, nullptr for none.
// The listener must not call RecordDocument.
void SetDocumentListener(std::function<void(const DocumentRecord&)> listener);
