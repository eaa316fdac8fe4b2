// Print methods the system supplies on Windows: outside programs (SumatraPDF, Word,
// RUNDLL32 with the system's HTML engine), the shell's "print" verb, and GDI+ drawing on
// the default printer. They print on the system's default printer and never wait for
// an outside program to finish. Callable from any thread, several at once.
#pragma once

#include <array>
#include <functional>
#include <string>

// Starts "SumatraPDF.exe -print-to-default -exit-on-print" for the file; true when the
// viewer process was created.
bool StartPdfViewerPrint(const std::string& path);

// The executable of the COM local server registered machine-wide for `progId`, with the
// start-up switch (from the last '/') cut off; empty when it is not registered.
std::string FindLocalServerPath(const std::string& progId);

// Starts Word, found through "Word.Application", to print the file on the default
// printer and quit; false only when Word is not registered.
bool StartWordPrint(const std::string& path);

// Performs the "print" verb that the file's type registers; 0, or the system error code
// (1155 when nothing is registered to print that type).
int ShellPrintVerb(const std::string& path);

// Starts RUNDLL32 with MSHTML's PrintHTML for the file and confirms the print dialog of
// that process (about 30 s at most); 0 once RUNDLL32 was started, else its error code.
int StartHtmlPrint(const std::string& path);

// Where an image lands: {x, y, width, height} in inches for a sheet and an image size
// in inches (sheet width, sheet height, image width, image height).
using ImagePlacer = std::function<std::array<float, 4>(float, float, float, float)>;

// Draws the first frame of the image file as one page of the job "Image" on the
// default printer. 0 when the job was printed; ERROR_INVALID_DATA when the file is no
// image the system can decode (nothing is printed), else the failing step's error code.
int PrintImageOnDefaultPrinter(const std::string& path, const ImagePlacer& place);
