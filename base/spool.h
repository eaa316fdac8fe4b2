// Spool folder: where every received document is written before it is printed.
// Callable from any thread; nothing is shared between calls. A CFileFind object belongs
// to one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/folderreader.h"
#include "platform/newfile.h"

// The spool folder path, ending in '/', created when missing. Empty when the folder is
// not a real directory owned by this user with mode 0700 (another user's folder, a
// link): then nothing may be written or deleted through it.
std::string GetSpoolFolder();

// Where the spool folder is, whether or not it is safe; for messages to the user.
std::string GetSpoolFolderPath();

// A full spool path for an uploaded name that did not exist when it was chosen ("" when
// the spool folder is unsafe). The file is not created. Names too long for the file
// system are shortened, their extension kept.
std::string MakeSpoolPath(const std::string& name);

// Creates the spool file `path` (as MakeSpoolPath chose it) for writing, private to this
// user. Not open when the path is not directly inside a safe spool folder or when
// anything, a link included, is already there.
CNewFile CreateSpoolFile(const std::string& path);

// A spool file made afresh for a document named `name`: the path MakeSpoolPath chose,
// asked again when another writer took that name first. `path` empty and `file` not open
// when none could be made.
struct NewSpoolFile {
  std::string path;
  CNewFile file;
};
NewSpoolFile CreateNewSpoolFile(const std::string& name);

// Removes the spool file `path` (a broken-off or failed upload). Only a file or link
// directly inside the safe spool folder is removed, never what a link points to.
bool RemoveSpoolFile(const std::string& path);

// Whether a document of `bytes` fits in the spool folder with room to spare for the rest
// of the system. True when the free space cannot be told.
bool SpoolHasRoomFor(int64_t bytes);

// The file name a document named `name` gets in the spool folder: cut at a NUL, the
// reserved characters of base name and extension replaced, `prefix` in front, `suffix`
// before the extension, and shortened (extension kept) to fit the file system.
std::string MakeSpoolFileName(const std::string& name, const std::string& prefix = "",
                              const std::string& suffix = "");

// Replaces each of the 14 reserved characters of a name part by '_', in place.
void SanitizeNamePart(std::string& text);

// Deletes the spool files and links that are a day old or older, measured against the
// local wall-clock time; sub-folders are never entered.
void CleanSpoolFolder();

// Enumerates one folder for the clean-up.
class CFileFind {
public:
  CFileFind() = default;
  CFileFind(const CFileFind&) = delete;
  CFileFind& operator=(const CFileFind&) = delete;

  // Starts a search in `folder` (ending in '/'); true when there is a first entry.
  bool FindFile(const std::string& folder);
  // Moves to the next entry; false when there is none.
  bool FindNextFile();
  // Whether the current entry is "." or "..".
  bool IsDots() const;
  // Whether the current entry is a real folder (a link to one is not).
  bool IsDirectory() const;
  // Creation time of the current entry as a FILETIME (UTC).
  uint64_t GetCreationTime() const;
  // The folder followed by the current entry's name.
  std::string GetFilePath() const;
  // Deletes the current entry when it is a file or a link (never what a link points to).
  bool RemoveCurrentEntry();
  void Close();

private:
  FolderReader reader_;
  std::string folder_;
  FolderEntry current_;
};
