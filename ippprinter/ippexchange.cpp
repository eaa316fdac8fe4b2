#include "ippprinter/ippexchange.h"

#include <utility>

#include "ippprinter/documentreceiver.h"
#include "ippprinter/ippcodes.h"
#include "ippprinter/ippresponse.h"

CIppExchange::CIppExchange(CIppPrinter& printer, IppClient client, int64_t announcedLength)
    : printer_(printer), client_(std::move(client)), announcedLength_(announcedLength) {}

CIppExchange::~CIppExchange() {
  if (document_) {
    document_->Discard();
    printer_.AbandonDocument(started_.documentJobId, client_);
  }
}

bool CIppExchange::Feed(std::string_view bytes) {
  if (early_) return false;
  if (decoded_) {
    // Bytes after a message that takes no document are read and dropped.
    if (document_) document_->Feed(bytes);
    return true;
  }
  head_.append(bytes);
  // A head that trickles in is decoded again only each time it doubled, so that decoding
  // costs at most twice its length.
  if (head_.size() < 2 * triedAt_) return true;
  triedAt_ = head_.size();
  return Decode();
}

bool CIppExchange::Decode() {
  IppDecodeResult decoded = DecodeIppMessage(head_);
  switch (decoded.status) {
    case IppDecodeStatus::kIncomplete:
      return true;
    case IppDecodeStatus::kMalformed:
      early_ = IppReply{400, {}};
      return false;
    case IppDecodeStatus::kTooLarge: {
      // The message cannot be read whole: answered for the version and request-id its
      // first octets give.
      IppMessage request;
      if (head_.size() >= 8) {
        uint32_t requestId = 0;
        for (int i = 4; i < 8; ++i) requestId = (requestId << 8) | static_cast<uint8_t>(head_[i]);
        request.versionMajor = static_cast<uint8_t>(head_[0]);
        request.requestId = static_cast<int32_t>(requestId);
      }
      early_ = IppReply{200, EncodeIppMessage(MakeResponse(request, decoded.ippStatus, decoded.error))};
      return false;
    }
    case IppDecodeStatus::kComplete:
      break;
  }
  decoded_ = true;
  const std::string rest = head_.substr(decoded.consumed);
  head_.clear();
  head_.shrink_to_fit();
  started_ = printer_.Start(decoded.message, client_);
  if (started_.documentJobId != 0) {
    std::string name = "document";
    if (const auto job = printer_.jobs_.Find(started_.documentJobId)) name = job->name;
    document_ = std::make_unique<CDocumentReceiver>(name, started_.declaredFormat, announcedLength_);
    document_->Feed(rest);
  }
  return true;
}

IppReply CIppExchange::Finish() {
  // The last bytes may have completed a head not decoded since.
  if (!early_ && !decoded_) Decode();
  if (early_) return *early_;
  // The body ended inside the message head.
  if (!decoded_) return IppReply{400, {}};
  if (document_) {
    ReceivedDocument received = document_->Finish();
    document_.reset();
    printer_.CompleteDocument(started_, std::move(received), client_);
  }
  return IppReply{200, EncodeIppMessage(started_.response)};
}
