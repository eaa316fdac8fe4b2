// The printer's description (RFC 8011 section 5.4, PWG 5100.14) built from the chosen
// queue's capabilities, and the part of it a Get-Printer-Attributes request asks for.
// Stateless.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ipp/ippmessage.h"
#include "platform/spooler.h"

// What the description is made of at the moment of a request.
struct PrinterDescription {
  QueueCapabilities queue;     // media empty: A4 and Letter are offered
  bool acceptingJobs = false;  // a chosen queue that can be printed to
  std::string stateMessage;
  bool processing = false;  // a job is being printed
  int queuedJobs = 0;
  std::string computerName;
  std::string uuid;              // "urn:uuid:..."
  std::string authority;         // "host:port" as the client named the printer
  int64_t now = 0;               // seconds since 1970
  int32_t upTime = 1;            // seconds since the printer started, at least 1
  int32_t configChangeTime = 1;  // up-time when the chosen queue last changed
  int64_t configChangeDate = 0;  // the same, in seconds since 1970
  int32_t multipleOperationTimeOut = 60;
};

// The media the printer offers: the queue's, else A4 and Letter; the default first.
std::vector<std::string> OfferedMedia(const QueueCapabilities& queue);

// A PWG self-describing media name's size in hundredths of a millimetre
// ("iso_a4_210x297mm" -> 21000 x 29700); nullopt when the name carries none or is not in
// the PWG form (a name part of other than lower-case letters, digits and hyphens).
struct MediaSize {
  int32_t width = 0;
  int32_t length = 0;
};
std::optional<MediaSize> SizeOfMediaName(const std::string& name);

// The printer-name: the queue's name and the PC's, at most 127 octets.
std::string PrinterNameFor(const std::string& queueName, const std::string& computerName);

// The printer's URI for this authority, and a job's.
std::string PrinterUri(const std::string& authority);
std::string JobUri(const std::string& authority, int jobId);

// Every printer attribute, media-col-database included.
IppGroup BuildPrinterAttributes(const PrinterDescription& description);

// The attributes that `requested` (requested-attributes' keywords; empty: "all") names:
// attribute names and the groups "all", "job-template" and "printer-description";
// media-col-database only by its name.
IppGroup SelectAttributes(const IppGroup& all, const std::vector<std::string>& requested);
