// Spool folder: where every received document is written before it is printed.
// Callable from any thread; nothing is shared between calls.
#pragma once

#include <cstdint>
#include <dirent.h>
#include <string>

// The spool folder path, ending in '/', created when missing. Empty when the folder is
// not a real directory owned by this user with mode 0700 (another user's folder, a
// link): then nothing may be written or deleted through it.
std::string GetSpoolFolder();

// A full spool path for an uploaded name that did not exist when it was chosen ("" when
// the spool folder is unsafe). The file is not created.
std::string MakeSpoolPath(const std::string& name);

// Replaces each of the 14 reserved characters of a name part by '_', in place.
void SanitizeNamePart(std::string& text);

// Deletes the spool files that are a day old or older; sub-folders are never entered.
void CleanSpoolFolder();

// Enumerates one folder for the clean-up.
class CFileFind {
public:
  CFileFind() = default;
  ~CFileFind();
  CFileFind(const CFileFind&) = delete;
  CFileFind& operator=(const CFileFind&) = delete;

  // Starts a search in `folder` (ending in '/'); true when there is a first entry.
  bool FindFile(const std::string& folder);
  // Moves to the next entry; false when there is none.
  bool FindNextFile();
  bool IsDots() const;
  bool IsDirectory() const;
  // Creation time of the current entry as a FILETIME (UTC).
  uint64_t GetCreationTime() const;
  std::string GetFilePath() const;
  void Close();

private:
  // Implementation-owned state; see spool.cpp.
  DIR* dir_ = nullptr;
  std::string folder_;
  std::string name_;
  bool isDirectory_ = false;
  uint64_t creationTime_ = 0;
};
