// What the desktop knows about file types: guessing a file's type and the programs
// registered to open it. Read-only; callable from any thread. Windows has only
// HasDefaultApplication: its print methods go by the file's extension.
#pragma once

#include <string>
#include <vector>

// The MIME type of a file judged by its name and its first bytes;
// "application/octet-stream" when nothing recognises it.
std::string DetectFileMimeType(const std::string& path);

// True when `mimeType` is `parent` or a kind of it (a README is a kind of text/plain).
bool MimeTypeIsA(const std::string& mimeType, const std::string& parent);

// True when a default program is registered for files whose names end in `extension`.
bool HasDefaultApplication(const std::string& extension);

// A text that changes whenever the desktop's associations of `extensions` may have
// changed (an application installed or removed, a default chosen, the MIME database
// updated), and only seldom otherwise; cheap enough to take for every request.
std::string FileAssociationsStamp(const std::vector<std::string>& extensions);

// Program names (the first word of each registered command) of every application
// registered to open `mimeType`.
std::vector<std::string> ApplicationsOpening(const std::string& mimeType);
