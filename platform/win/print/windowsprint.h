// What the Windows print methods (print/printer.h and print/driverlessprint.h, here in
// platform/win/print/) share: how they find a program registered as a COM local server,
// the empty-file check each makes first, the PDF viewer and the image drawing. Callable
// from any thread, several at once.
#pragma once

#include <string>
#include <windows.h>

#include "platform/spooler.h"
#include "platform/win/print/printerdc.h"
#include "raster/rasterdecoder.h"

// The executable of the COM local server registered machine-wide for `progId`, with the
// start-up switch (from the last '/') cut off; empty when it is not registered.
std::string FindLocalServerPath(const std::string& progId);

// True when the file exists and holds nothing: such a file prints nothing, whatever its
// kind.
bool IsEmptyFile(const std::string& path);

// Starts the PDF viewer printing the file on the default printer: "SumatraPDF.exe
// -print-to-default [-print-settings "SETTINGS"] -exit-on-print "PATH"", with the
// settings as the viewer takes them ("2x,duplexlong"), none when empty. The viewer's
// process, for the caller to close; null when the file is empty or it did not start.
HANDLE StartPdfViewer(const std::string& path, const std::string& printSettings);

// Draws the image's first frame fitted and centred on one page of a new document
// `title` on the default printer, with `settings`. 0 once the spooler took it;
// ERROR_INVALID_DATA when the file is no image the system can decode (no document is
// begun), else the failing step's error code.
int PrintImageDocument(const std::string& path, const std::string& title, const PageSettings& settings);

// Prints a PWG or Apple raster at its own size from the sheet's top left corner, each
// page drawn band by band. The whole raster is checked first: one that contradicts
// itself or the limits is ERROR_INVALID_DATA and no document is begun. Without a media
// or sides setting the first page's size and duplex choose them.
SubmitResult PrintRasterDocument(const std::string& path, RasterFormat format, const std::string& title,
                                 PageSettings settings);
