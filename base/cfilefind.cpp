#include "base/spool.h"

bool CFileFind::FindFile(const std::string& folder) {
  folder_ = folder;
  return reader_.Open(folder) && FindNextFile();
}

bool CFileFind::FindNextFile() { return reader_.Next(current_); }

bool CFileFind::IsDots() const { return current_.name == "." || current_.name == ".."; }

bool CFileFind::IsDirectory() const { return current_.isDirectory; }

uint64_t CFileFind::GetCreationTime() const { return current_.creationTime; }

std::string CFileFind::GetFilePath() const { return folder_ + current_.name; }

bool CFileFind::RemoveCurrentEntry() { return !IsDirectory() && reader_.RemoveFile(current_.name); }

void CFileFind::Close() {
  reader_.Close();
  current_ = FolderEntry();
}
