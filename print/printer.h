// Print engine: prints one spooled file on the current default printer, choosing the
// method by the file's extension. Every function may be called from any thread, several
// at once; none deletes the file it was given. Each system's print methods live in
// platform/linux/print/ and platform/win/print/; what they return is said here for Linux
// and beside each Windows one for Windows.
#pragma once

#include <string>

#include "platform/spooler.h"

// What became of one document handed to the print engine.
struct PrintOutcome {
  bool printed = false;  // the method took the document over (not a promise of paper)
  std::string printer;   // the default queue at the time, "" when there is none
  std::string reason;    // why it was not printed, in words for the user
};

// Picks the method by the lowered extension and hands the file over.
PrintOutcome PrintDocument(const std::string& path);

// PrintDocument(path).printed.
bool PrintFile(const std::string& path);

// Submits a PDF to the default destination; true when the spooler accepted the job.
bool PrintPdfFile(const std::string& path);

// Starts LibreOffice detached to print a word-processor document on the default
// destination; false only when LibreOffice cannot be found.
bool PrintWordFile(const std::string& path);

// Prints any other file by its detected type: submitted as is when the spooler prints
// that type, through LibreOffice when it opens it. 0 on success; ENOEXEC when nothing
// here prints that type, another errno value or the spooler's status code when the
// submission failed. Nothing reaches the printer on failure.
int PrintWithShellVerb(const std::string& path);

// Has the page turned into a PDF by a headless renderer, shut in (no scripts, network or
// other files), and submits it, without waiting. Pages render one at a time; asking again
// for a page still waiting or rendering adds a copy of its PDF. 0 once the page is
// queued or its renderer started, otherwise an error number.
int PrintHtmlFile(const std::string& path);

// Draws the image's first page centred on one sheet of the default destination and
// submits it as the job "Image". 0 when the job was accepted; EINVAL when the image
// cannot be decoded, ENODEV without a default printer, else the submission's error.
int PrintImageFile(const std::string& path);

// Hands a document the driverless printer received (PDF, JPEG, PWG or Apple raster, as
// `mimeType` says, already checked) to the default queue as one job titled `title` with
// these options; the spooler's job to follow (0 when there is none to follow), or the
// error, and then nothing was printed. Linux: CUPS takes each of these formats as it is,
// and its job is followed. Windows: a PDF goes to the PDF viewer, which is waited for; a
// JPEG is drawn with GDI+, the rasters band by band; the job's copies, sides, colour,
// quality and paper go into the printer's settings. The Windows spooler forgets a job once
// it is printed, so none is followed there: taken by the spooler is done.
SubmitResult PrintDriverlessDocument(const std::string& path, const std::string& mimeType, const std::string& title,
                                     const PrintOptions& options);
