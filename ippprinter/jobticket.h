// What a Print-Job, Validate-Job or Create-Job request asks of its job: its name, format
// and the job template attributes, checked against what the printer offers and turned
// into the spooler's options. Stateless.
#pragma once

#include <cstdint>
#include <string>

#include "ipp/ippmessage.h"
#include "platform/spooler.h"

struct JobTicket {
  uint16_t status = 0;   // ok, ok-ignored-or-substituted, or the refusal
  std::string message;   // why it was refused
  std::string name;      // job-name, else document-name, else "Untitled"
  std::string format;    // document-format, octet-stream when none
  PrintOptions options;  // copies, sides, media, print-color-mode, print-quality, orientation
};

// Reads the ticket; attributes the printer does not support are echoed in `response`'s
// unsupported-attributes group.
JobTicket ReadJobTicket(const IppMessage& request, const QueueCapabilities& queue, IppMessage& response);

// Checks document-format and compression (Send-Document has only these); 0 when both
// are supported, else the status, with the attribute echoed in `response`.
uint16_t CheckDocumentAttributes(const IppMessage& request, std::string& format, IppMessage& response);
