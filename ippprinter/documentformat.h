// The document formats the printer takes, named by MIME type and told apart by their
// first bytes. Stateless.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class DocumentFormat { kUnknown, kPdf, kJpeg, kPwgRaster, kUrf };

// "application/octet-stream": the format is read from the document's first bytes.
inline constexpr char kAutoDetectedFormat[] = "application/octet-stream";

// Octets DetectDocumentFormat needs to tell every format (PWG's "RaS2PwgRaster\0").
constexpr size_t kFormatSignatureBytes = 14;

// The format a client names; kUnknown for octet-stream and for formats not taken.
DocumentFormat FormatOfMimeType(std::string_view mimeType);
// Whether the printer takes documents declared as `mimeType` (octet-stream included).
bool IsSupportedMimeType(std::string_view mimeType);
// The format whose signature the document starts with; kUnknown when none, or when fewer
// than kFormatSignatureBytes octets could not yet tell.
DocumentFormat DetectDocumentFormat(std::string_view firstBytes);

std::string MimeTypeOf(DocumentFormat format);
// The extension its spool file gets (".pdf").
std::string SpoolExtensionOf(DocumentFormat format);
