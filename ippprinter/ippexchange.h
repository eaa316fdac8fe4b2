// One request to the printer as its bytes arrive: the IPP message head is gathered and
// decoded within the limits, then the document, if the operation takes one, streams into
// the spool folder. Destroyed before Finish (the body broke off), it leaves nothing
// behind. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ippprinter/ippprinter.h"

class CDocumentReceiver;

class CIppExchange {
 public:
  CIppExchange(CIppPrinter& printer, IppClient client, int64_t announcedLength);
  ~CIppExchange();
  CIppExchange(const CIppExchange&) = delete;
  CIppExchange& operator=(const CIppExchange&) = delete;

  // Takes the next body bytes. False when the request is answered already (a message
  // that is broken or past the limits): send EarlyReply() and read no further.
  bool Feed(std::string_view bytes);
  IppReply EarlyReply() const { return *early_; }
  // The body ended: the answer.
  IppReply Finish();

 private:
  // Decodes the head gathered so far; false when that answered the request.
  bool Decode();

  CIppPrinter& printer_;
  const IppClient client_;
  const int64_t announcedLength_;
  std::string head_;    // the message head, until it is decoded
  size_t triedAt_ = 0;  // the head's length when it was last decoded
  bool decoded_ = false;
  CIppPrinter::Started started_;
  std::unique_ptr<CDocumentReceiver> document_;
  std::optional<IppReply> early_;
};
