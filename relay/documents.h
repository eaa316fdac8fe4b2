// Where the relay keeps its jobs' document bytes, named by job id: files in the data folder
// beside SQLite (documentfolder.h), rows of the database itself beside PostgreSQL, so that
// relays on several machines share nothing but the database (databasedocuments.h).
// Bytes stream in and out in pieces: no document is ever whole in memory. A document is
// complete and durable before its job is recorded. Any thread.
#pragma once

#include <memory>
#include <string>

#include "relay/sqldatabase.h"

// A document on its way in; what was written of it goes unless it is committed.
class IncomingDocument {
public:
  virtual ~IncomingDocument() = default;
  // False when the bytes cannot be kept; Failure() says why.
  virtual bool Write(const char* data, size_t size) = 0;
  // Makes the complete document durable under the id it began with; false when it cannot.
  virtual bool Commit() = 0;
  // Why the last Write or Commit failed: Full, Unavailable or Failed.
  virtual SqlFailure Failure() const = 0;
};

// A stored document read from its start to its end as its answer goes out.
class DocumentReader {
public:
  virtual ~DocumentReader() = default;
  // Copies up to `size` bytes at `offset`, where the previous read ended: how many, or -1
  // when the document can no longer be read (then the answer is cut short).
  virtual long long Read(unsigned long long offset, char* into, size_t size) = 0;
};

// What a download sends: a file as it is, or a reader.
struct DocumentBody {
  int fd = -1;  // owned
  std::shared_ptr<DocumentReader> reader;
  long long size = 0;
};

class DocumentStore {
public:
  virtual ~DocumentStore() = default;
  // Begins document `id`; null when nothing can be written (`failure` says why).
  virtual std::unique_ptr<IncomingDocument> Begin(const std::string& id, SqlFailure& failure) = 0;
  // Document `id`, which must hold exactly `size` bytes: Failed when it does not.
  virtual SqlFailure Find(const std::string& id, long long size, DocumentBody& body) = 0;
  virtual void Remove(const std::string& id) = 0;
  // Removes documents last written before `cutoff` (seconds since the epoch): once no job
  // or upload can be that old, such a document is what a stop between writing it and
  // recording its job left behind, or what a stopped upload wrote.
  virtual void RemoveAbandoned(long long cutoff) = 0;
};
