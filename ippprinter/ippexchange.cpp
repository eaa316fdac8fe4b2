#include "ippprinter/ippexchange.h"

#include <utility>

#include "ippprinter/documentreceiver.h"
#include "ippprinter/ippcodes.h"

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
  IppDecodeResult decoded = DecodeIppMessage(head_);
  switch (decoded.status) {
    case IppDecodeStatus::kIncomplete:
      return true;
    case IppDecodeStatus::kMalformed:
      early_ = IppReply{400, {}};
      return false;
    case IppDecodeStatus::kTooLarge: {
      // The message cannot be read whole: answered with what its first octets say.
      IppMessage response;
      if (head_.size() >= 8) {
        response.versionMajor = static_cast<uint8_t>(head_[0]) == 1 ? 1 : 2;
        response.versionMinor = response.versionMajor == 1 ? 1 : 0;
        response.requestId = static_cast<int32_t>((static_cast<uint8_t>(head_[4]) << 24) |
                                                  (static_cast<uint8_t>(head_[5]) << 16) |
                                                  (static_cast<uint8_t>(head_[6]) << 8) | static_cast<uint8_t>(head_[7]));
      }
      response.code = decoded.ippStatus;
      IppGroup& operation = response.groups.emplace_back();
      AddIppAttribute(operation, "attributes-charset", {IppString(IppTag::kCharset, "utf-8")});
      AddIppAttribute(operation, "attributes-natural-language", {IppString(IppTag::kNaturalLanguage, "en")});
      AddIppAttribute(operation, "status-message", {IppString(IppTag::kTextWithoutLanguage, decoded.error)});
      early_ = IppReply{200, EncodeIppMessage(response)};
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
