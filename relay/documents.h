// The document bytes of the relay's jobs: one file per job in DATA/documents, named by
// the job's random id. An upload is written to this process's own folder in
// DATA/incoming first and moved into place only when complete and on the disk, so a
// half-received document is never served and a power loss cannot shorten a stored one.
// Relays may share DATA: each owns its incoming folder for as long as it runs (a lock
// file it holds), and a folder is removed only once its owner is gone. Any thread.
#pragma once

#include <memory>
#include <string>

#include "platform/newfile.h"

// True when `error` (an errno value) says that the disk or the quota is full.
bool IsDiskFull(int error);

class DocumentFolder {
public:
  DocumentFolder() = default;
  ~DocumentFolder();
  DocumentFolder(const DocumentFolder&) = delete;
  DocumentFolder& operator=(const DocumentFolder&) = delete;

  // Creates the folders (mode 0700), takes an incoming folder of its own and removes
  // what stopped relays left in incoming.
  bool Open(const std::string& dataFolder, std::string& error);
  std::string PathOf(const std::string& id) const { return documents_ + id; }
  void Remove(const std::string& id) const;
  // Removes the documents last written before `cutoff` (seconds since the epoch): a job
  // is recorded only after its document is in place, so once no job can be that old,
  // such a file is what a stop between the two steps left behind. Removes the incoming
  // folders of relays that stopped.
  void RemoveAbandoned(long long cutoff) const;

  // One document on its way in; removed unless it is committed.
  class Incoming {
  public:
    Incoming(std::string path, CNewFile file) : path_(std::move(path)), file_(std::move(file)) {}
    ~Incoming();
    Incoming(const Incoming&) = delete;
    Incoming& operator=(const Incoming&) = delete;
    // False with errno set when the bytes cannot be written.
    bool Write(const char* data, size_t size) { return file_.Write(data, size); }
    // Moves the complete document, synced to the disk, into place as job `id`; false
    // with errno set when it cannot.
    bool Commit(const DocumentFolder& folder, const std::string& id);

  private:
    std::string path_;
    CNewFile file_;
    bool committed_ = false;
  };
  // Null with errno set when no file can be created.
  std::unique_ptr<Incoming> Begin() const;

private:
  bool TakeIncomingFolder(std::string& error);
  void RemoveStoppedRelaysUploads() const;

  std::string documents_;
  std::string incoming_;  // shared by the relays
  std::string own_;       // this process's folder in it
  std::string ownLock_;
  int lockFd_ = -1;
};
