#include "ippprinter/documentreceiver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/spool.h"
#include "ippprinter/ippcodes.h"
#include "raster/rasterdecoder.h"

namespace {

// The free space is asked again each time the document grew by this much.
constexpr int64_t kRoomCheckStep = 4 * 1024 * 1024;

std::string SpoolNameFor(const std::string& name, DocumentFormat format) {
  const std::string extension = SpoolExtensionOf(format);
  return name.ends_with(extension) ? name : name + extension;
}

}  // namespace

CDocumentReceiver::CDocumentReceiver(std::string name, std::string declaredFormat, int64_t announcedLength)
    : name_(std::move(name)), declared_(std::move(declaredFormat)) {
  // A document that cannot fit is refused before a byte of it is stored.
  if (announcedLength >= 0 && !SpoolHasRoomFor(announcedLength)) {
    Refuse(ippstatus::kRequestEntityTooLarge, "the document does not fit on the disk of the spool folder");
  }
}

CDocumentReceiver::~CDocumentReceiver() { Discard(); }

void CDocumentReceiver::Discard() {
  if (path_.empty()) return;
  file_.Close();
  RemoveSpoolFile(path_);
  path_.clear();
}

void CDocumentReceiver::Refuse(uint16_t status, std::string error) {
  if (status_ != 0) return;
  status_ = status;
  error_ = std::move(error);
  Discard();
}

void CDocumentReceiver::Feed(std::string_view bytes) {
  if (status_ != 0 || bytes.empty()) return;
  if (!told_) {
    const size_t take = std::min(bytes.size(), kFormatSignatureBytes - signature_.size());
    signature_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (signature_.size() < kFormatSignatureBytes) return;
    if (!Open()) return;
    Store(std::exchange(signature_, {}));
  }
  Store(bytes);
}

// Tells the format by the first bytes and makes the spool file.
bool CDocumentReceiver::Open() {
  told_ = true;
  const DocumentFormat detected = DetectDocumentFormat(signature_);
  const DocumentFormat declared = FormatOfMimeType(declared_);
  if (detected == DocumentFormat::kUnknown && declared == DocumentFormat::kUnknown) {
    Refuse(ippstatus::kDocumentFormatNotSupported, "the document is in none of the formats this printer takes");
    return false;
  }
  if (declared != DocumentFormat::kUnknown && detected != declared) {
    Refuse(ippstatus::kDocumentFormatError, "the document is not the " + declared_ + " it was declared as");
    return false;
  }
  format_ = detected;
  if (format_ == DocumentFormat::kPwgRaster || format_ == DocumentFormat::kUrf) {
    raster_ = std::make_unique<RasterDecoder>(
        format_ == DocumentFormat::kPwgRaster ? RasterFormat::kPwg : RasterFormat::kUrf, nullptr);
  }
  NewSpoolFile spooled = CreateNewSpoolFile(SpoolNameFor(name_, format_));
  if (!spooled.file.IsOpen()) {
    Refuse(ippstatus::kInternalError, "no new file could be made in the spool folder " + GetSpoolFolderPath());
    return false;
  }
  path_ = std::move(spooled.path);
  file_ = std::move(spooled.file);
  return true;
}

void CDocumentReceiver::Store(std::string_view bytes) {
  if (status_ != 0 || bytes.empty()) return;
  if (raster_ && raster_->Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) != RasterStatus::kOk) {
    Refuse(ippstatus::kDocumentFormatError, "the raster is broken: " + raster_->Error());
    return;
  }
  stored_ += static_cast<int64_t>(bytes.size());
  if (stored_ > roomCheckedUpTo_) {
    if (!SpoolHasRoomFor(kRoomCheckStep)) {
      Refuse(ippstatus::kRequestEntityTooLarge, "the document does not fit on the disk of the spool folder");
      return;
    }
    roomCheckedUpTo_ = stored_ + kRoomCheckStep;
  }
  if (!file_.Write(bytes.data(), bytes.size())) {
    Refuse(ippstatus::kInternalError, std::string("writing to the spool folder failed (") + std::strerror(errno) + ")");
  }
}

ReceivedDocument CDocumentReceiver::Finish() {
  ReceivedDocument document;
  if (status_ == 0 && !told_) {
    if (signature_.empty()) {
      document.empty = true;
      Refuse(ippstatus::kDocumentFormatError, "the document is empty");
    } else if (Open()) {
      Store(std::exchange(signature_, {}));
    }
  }
  if (status_ == 0 && raster_ && raster_->Finish() != RasterStatus::kOk) {
    Refuse(ippstatus::kDocumentFormatError, "the raster is broken: " + raster_->Error());
  }
  if (status_ == 0 && !file_.Close()) {
    Refuse(ippstatus::kInternalError, "the spool file could not be closed");
  }
  document.status = status_;
  document.error = error_;
  document.format = format_;
  document.pages = raster_ ? raster_->Pages() : 0;
  if (status_ == 0) document.path = std::exchange(path_, {});
  return document;
}
