// The driverless printer's documents on Windows: drawing them (PDF through the viewer,
// JPEG through GDI+, the rasters band by band) is not built yet, so each is refused and
// reported as not printed rather than lost.
#include <cerrno>

#include "print/printer.h"

SubmitResult PrintDriverlessDocument(const std::string&, const std::string&, const std::string&, const PrintOptions&) {
  return {0, ENOSYS};
}
