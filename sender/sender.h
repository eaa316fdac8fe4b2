// olvaro-send: sends a document to a PC through a relay or over the local network.
// Each function runs one command to its end on the calling thread and returns the
// program's exit status, having said what went wrong on the standard error.
#pragma once

#include <string>

// Exit statuses, each naming one kind of failure.
enum SendExit {
  kSent = 0,
  kFailed = 1,          // the relay or PC refused the document (too large, queue full, ...)
  kUsage = 2,
  kUnreadableFile = 3,
  kPcNotFound = 4,
  kRefusedFormat = 5,   // the PC said it cannot print this kind of file
  kBadCode = 6,         // pairing code wrong, expired or locked; or no pairing stored
  kUnreachable = 7,     // the relay or PC did not answer
};

struct SendRequest {
  std::string relay;  // base URL of the relay; empty: the local network
  std::string code;   // pairing code to pair with first
  std::string file;
  int copies = 1;
  std::string to;     // on the local network: the PC's name
  bool list = false;
  bool force = false;  // send even a format the PC says it cannot print
  int timeoutSeconds = 30;  // the longest silence of a relay or PC; twice that for a request
};

int SendThroughRelay(const SendRequest& request);
int SendOnNetwork(const SendRequest& request);

// True when the not-have list `notHave` (as "/info" and the relay give it) says the PC
// cannot print a file named `fileName`.
bool PcCannotPrint(const std::string& notHave, const std::string& fileName);
// The last component of `path`.
std::string BaseName(const std::string& path);
