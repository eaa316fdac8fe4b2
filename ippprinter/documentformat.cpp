#include "ippprinter/documentformat.h"

#include "text/ascii.h"

namespace {

struct KnownFormat {
  DocumentFormat format;
  std::string_view mimeType;
  std::string_view signature;
  std::string_view extension;
};

using namespace std::string_view_literals;

constexpr KnownFormat kFormats[] = {
    {DocumentFormat::kPdf, "application/pdf", "%PDF-", ".pdf"},
    {DocumentFormat::kJpeg, "image/jpeg", "\xFF\xD8\xFF", ".jpg"},
    {DocumentFormat::kPwgRaster, "image/pwg-raster", "RaS2PwgRaster\0"sv, ".pwg"},
    {DocumentFormat::kUrf, "image/urf", "UNIRAST\0"sv, ".urf"},
};

// MIME types compare without letter case and without parameters ("; charset=...").
bool SameMimeType(std::string_view declared, std::string_view known) {
  declared = declared.substr(0, declared.find(';'));
  while (!declared.empty() && declared.back() == ' ') declared.remove_suffix(1);
  return EqualsIgnoringAsciiCase(declared, known);
}

}  // namespace

DocumentFormat FormatOfMimeType(std::string_view mimeType) {
  for (const KnownFormat& known : kFormats) {
    if (SameMimeType(mimeType, known.mimeType)) return known.format;
  }
  return DocumentFormat::kUnknown;
}

bool IsSupportedMimeType(std::string_view mimeType) {
  return SameMimeType(mimeType, kAutoDetectedFormat) || FormatOfMimeType(mimeType) != DocumentFormat::kUnknown;
}

DocumentFormat DetectDocumentFormat(std::string_view firstBytes) {
  for (const KnownFormat& known : kFormats) {
    if (firstBytes.starts_with(known.signature)) return known.format;
  }
  return DocumentFormat::kUnknown;
}

std::string MimeTypeOf(DocumentFormat format) {
  for (const KnownFormat& known : kFormats) {
    if (known.format == format) return std::string(known.mimeType);
  }
  return kAutoDetectedFormat;
}

std::string SpoolExtensionOf(DocumentFormat format) {
  for (const KnownFormat& known : kFormats) {
    if (known.format == format) return std::string(known.extension);
  }
  return ".bin";
}
