// The document bytes of the relay's jobs: one file per job in DATA/documents, named by
// the job's random id. An upload is written to DATA/incoming first and moved into place
// only when complete, so a half-received document is never served. Any thread.
#pragma once

#include <memory>
#include <string>

#include "platform/newfile.h"

class DocumentFolder {
public:
  // Creates the folders (mode 0700) and removes what an interrupted run left in incoming.
  bool Open(const std::string& dataFolder, std::string& error);
  std::string PathOf(const std::string& id) const { return documents_ + id; }
  void Remove(const std::string& id) const;
  // Removes the documents last written before `cutoff` (seconds since the epoch). A job
  // is recorded only after its document is in place, so once no job can be that old,
  // such a file is what a stop between the two steps left behind.
  void RemoveWrittenBefore(long long cutoff) const;

  // One document on its way in; removed unless it is committed.
  class Incoming {
  public:
    Incoming(std::string path, CNewFile file) : path_(std::move(path)), file_(std::move(file)) {}
    ~Incoming();
    Incoming(const Incoming&) = delete;
    Incoming& operator=(const Incoming&) = delete;
    bool Write(const char* data, size_t size) { return file_.Write(data, size); }
    // Moves the complete document into place as job `id`.
    bool Commit(const DocumentFolder& folder, const std::string& id);

  private:
    std::string path_;
    CNewFile file_;
    bool committed_ = false;
  };
  // Null when no file can be created.
  std::unique_ptr<Incoming> Begin() const;

private:
  std::string documents_;
  std::string incoming_;
};
