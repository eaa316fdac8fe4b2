// Opening what a path names below a folder, one name at a time, so that no link anywhere
// on the way leads out of the folder, and only regular files and folders (a pipe or
// device would block or never end). Stateless; callable from any thread.
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

// Opens what `rest` ('/' between names) names below the folder `base`. False when `base`
// is no usable folder or `rest` names nothing that may be opened; "" and "/" name `base`.
bool OpenBeneath(const std::string& base, std::string_view rest, FileBeneath& found);
