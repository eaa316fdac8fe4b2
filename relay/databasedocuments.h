// The document bytes in the database the relay's records are in (PostgreSQL), so that
// relays on several machines need nothing else. A document is rows of up to 1 MiB, each
// written by one statement as the upload streams in and read by one statement as the
// download streams out: no statement waits on a client with a connection or a
// transaction held, and no document is whole in memory. Each row is durable once its
// statement commits, all of them before the job that names them is recorded. Rows go with
// ordinary deletes (there is nothing besides them to unlink); what a stopped relay left is
// swept by age.
#pragma once

#include "relay/documents.h"

class DatabaseDocuments : public DocumentStore {
public:
  // The connections are the store's own, shared.
  explicit DatabaseDocuments(SqlPool& pool) : pool_(pool) {}
  // Brings the table up; false with `error`.
  bool Open(std::string& error);

  std::unique_ptr<IncomingDocument> Begin(const std::string& id, SqlFailure& failure) override;
  SqlFailure Find(const std::string& id, long long size, DocumentBody& body) override;
  void Remove(const std::string& id) override;
  void RemoveAbandoned(long long cutoff) override;

private:
  class Incoming;
  class Reader;
  SqlPool& pool_;
};
