#include "platform/folderreader.h"

#include <windows.h>

#include "platform/win/widetext.h"

struct FolderReader::Stream {
  HANDLE find = INVALID_HANDLE_VALUE;
  std::wstring folder;     // with its final '\'
  WIN32_FIND_DATAW pending{};  // the entry the search opened with, not yet handed out
  bool hasPending = false;
  ~Stream() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
};

FolderReader::FolderReader() = default;
FolderReader::~FolderReader() = default;

bool FolderReader::Open(const std::string& folder) {
  Close();
  std::wstring wide = ToWidePath(folder);
  if (!wide.empty() && wide.back() != L'\\') wide += L'\\';
  // A junction or link standing for the folder is not followed.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  auto stream = std::make_unique<Stream>();
  stream->folder = wide;
  stream->find = FindFirstFileW((wide + L"*").c_str(), &stream->pending);
  if (stream->find == INVALID_HANDLE_VALUE) return false;
  stream->hasPending = true;
  stream_ = std::move(stream);
  return true;
}

bool FolderReader::Next(FolderEntry& entry) {
  if (!stream_) return false;
  WIN32_FIND_DATAW& found = stream_->pending;
  if (!stream_->hasPending && !FindNextFileW(stream_->find, &found)) return false;
  stream_->hasPending = false;
  entry.name = ToUtf8(found.cFileName);
  entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                      (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  entry.creationTime = (static_cast<uint64_t>(found.ftCreationTime.dwHighDateTime) << 32) |
                       found.ftCreationTime.dwLowDateTime;
  return true;
}

bool FolderReader::RemoveFile(const std::string& name) {
  if (!stream_ || name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos) {
    return false;
  }
  // DeleteFileW refuses folders, and removes a link itself rather than its target.
  return DeleteFileW((stream_->folder + ToWide(name)).c_str()) != 0;
}

void FolderReader::Close() { stream_.reset(); }
