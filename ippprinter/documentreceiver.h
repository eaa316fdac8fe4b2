// One document streaming into the spool folder, checked as it comes: its first bytes
// against the declared format, rasters against their headers, the free space as it grows.
// A refused or broken-off document leaves no file behind. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ippprinter/documentformat.h"
#include "platform/newfile.h"

class RasterDecoder;

struct ReceivedDocument {
  std::string path;  // the complete spool file; "" when none stays
  DocumentFormat format = DocumentFormat::kUnknown;
  uint32_t pages = 0;   // counted in rasters, else 0
  uint16_t status = 0;  // an IPP status when the document is refused
  std::string error;    // why, in words
  bool empty = false;   // no byte came
};

class CDocumentReceiver {
 public:
  // `name` is the job's, `declaredFormat` the client's document-format.
  CDocumentReceiver(std::string name, std::string declaredFormat, int64_t announcedLength);
  ~CDocumentReceiver();
  CDocumentReceiver(const CDocumentReceiver&) = delete;
  CDocumentReceiver& operator=(const CDocumentReceiver&) = delete;

  // Takes the next bytes; after a fault they are read and dropped.
  void Feed(std::string_view bytes);
  // The document ended: the file it left, or why it was refused.
  ReceivedDocument Finish();
  // Removes what was stored so far.
  void Discard();

 private:
  void Refuse(uint16_t status, std::string error);
  void Store(std::string_view bytes);
  bool Open();

  std::string name_;
  std::string declared_;
  DocumentFormat format_ = DocumentFormat::kUnknown;
  std::string signature_;  // the first bytes, until the format is told
  std::string path_;
  CNewFile file_;
  std::unique_ptr<RasterDecoder> raster_;
  int64_t stored_ = 0;
  int64_t roomCheckedUpTo_ = 0;
  uint16_t status_ = 0;
  std::string error_;
  bool told_ = false;
};
