// The document bytes in files: one per job in DATA/documents, named by the job's random
// id. An upload is written to this process's own folder in DATA/incoming first and moved
// into place only when complete and on the disk, so a half-received document is never
// served and a power loss cannot shorten a stored one. Relays may share DATA: each owns
// its incoming folder for as long as it runs (a lock file it holds), and a folder is
// removed only once its owner is gone.
#pragma once

#include <string>

#include "relay/documents.h"

// True when `error` (an errno value) says that the disk or the quota is full.
bool IsDiskFull(int error);

class DocumentFolder : public DocumentStore {
public:
  DocumentFolder() = default;
  ~DocumentFolder() override;
  DocumentFolder(const DocumentFolder&) = delete;
  DocumentFolder& operator=(const DocumentFolder&) = delete;

  // Creates the folders (mode 0700), takes an incoming folder of its own and removes
  // what stopped relays left in incoming.
  bool Open(const std::string& dataFolder, std::string& error);

  std::unique_ptr<IncomingDocument> Begin(const std::string& id, SqlFailure& failure) override;
  SqlFailure Find(const std::string& id, long long size, DocumentBody& body) override;
  void Remove(const std::string& id) override;
  // Also removes the incoming folders of relays that stopped.
  void RemoveAbandoned(long long cutoff) override;

private:
  class Incoming;
  std::string PathOf(const std::string& id) const { return documents_ + id; }
  bool TakeIncomingFolder(std::string& error);
  void RemoveStoppedRelaysUploads() const;

  std::string documents_;
  std::string incoming_;  // shared by the relays
  std::string own_;       // this process's folder in it
  std::string ownLock_;
  int lockFd_ = -1;
};
