// Opening what a path names below a folder, one name at a time, so that no link anywhere
// on the way leads out of the folder, and only regular files and folders (a pipe or
// device would block or never end). Callable from any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

struct FileBeneathCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

struct FileBeneath {
  std::unique_ptr<FILE, FileBeneathCloser> file;  // open for reading; none for a folder
  bool isFolder = false;
  uint64_t size = 0;
  time_t modified = 0;
};

// A folder kept open, so that what lies below it is opened without opening the folder
// again (Windows keeps only its path). Many threads may use one at once.
class CKeptFolder {
public:
  // Opens the folder at `path`; IsOpen() tells whether that worked.
  explicit CKeptFolder(std::string path);
  ~CKeptFolder();
  CKeptFolder(const CKeptFolder&) = delete;
  CKeptFolder& operator=(const CKeptFolder&) = delete;

  bool IsOpen() const { return open_; }
  const std::string& Path() const { return path_; }
  // False once the folder at Path() is another one, or a name in it was added, removed
  // or renamed since it was opened: one look at the path, none inside.
  bool Unchanged() const;
  // True when something exists at `rest` ('/' between names) below the folder, links
  // followed.
  bool Holds(std::string_view rest) const;

private:
  friend bool OpenBeneath(const CKeptFolder& base, std::string_view rest, FileBeneath& found);
  std::string path_;
  bool open_ = false;
  int fd_ = -1;  // Linux: the folder's descriptor
  // What the folder was when it was opened: its device and number there, and when its
  // names last changed.
  uint64_t device_ = 0;
  uint64_t identity_ = 0;
  int64_t changed_ = 0;
};

// Opens what `rest` ('/' between names) names below `base`. False when `base` is not open
// or `rest` names nothing that may be opened; "" and "/" name `base`.
bool OpenBeneath(const CKeptFolder& base, std::string_view rest, FileBeneath& found);
