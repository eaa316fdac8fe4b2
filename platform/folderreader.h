// Reading the entries of one folder and removing files from it.
// One object belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct FolderEntry {
  std::string name;          // the entry's own name, "." and ".." included
  bool isDirectory = false;  // a real folder; a link to one is not
  uint64_t creationTime = 0; // FILETIME (UTC): birth time, or the change time where the file system keeps none
};

class FolderReader {
public:
  FolderReader();
  ~FolderReader();
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;

  // Opens `folder` for reading; false when it is not a folder or is a link.
  bool Open(const std::string& folder);
  // The next entry; false at the end. Entries that vanish while being read are skipped.
  bool Next(FolderEntry& entry);
  // Removes the file or link `name` of the open folder; never a folder, never the target
  // of a link.
  bool RemoveFile(const std::string& name);
  void Close();

private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};
