// The driverless printer's documents on Linux: CUPS takes all four formats as they are.
#include "print/printer.h"

SubmitResult PrintDriverlessDocument(const std::string& path, const std::string& mimeType, const std::string& title,
                                     const PrintOptions& options) {
  return SubmitToDefaultQueue(path, mimeType, title, options);
}
