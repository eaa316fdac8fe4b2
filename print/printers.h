// Printer selection and format capabilities. The printer list, the default printer and
// the reconciliation belong to the UI thread; HasFileAssociation and BuildNotHaveList
// only read and may be called from any thread, several at once.
#pragma once

#include <string>
#include <vector>

// Names of the local queues and connections, in the spooler's order, without those that
// print to this program's own driverless printer; empty when none.
std::vector<std::string> GetPrinterList();

// The effective default printer of this user; empty when there is none.
std::string GetDefaultPrinterName();

// Makes `name` this user's default printer; an empty name leaves the default alone.
// Whether it took effect is not reported.
void SetDefaultPrinterName(const std::string& name);

// `present` when a program handles files with `extension` (dot included), else `missing`.
std::string HasFileAssociation(const std::string& extension, const std::string& present,
                               const std::string& missing);

// "iWork" followed by ",Office", ",Office2007", ",PDF", ",WebArchive" for each of
// ".xls", ".xlsx", ".pdf", ".webarchive" that nothing handles, in that order. A change
// of the desktop's associations shows from a second after it on.
std::string BuildNotHaveList();

// Makes the stored "preferredPrinterName" the default printer when it differs from the
// default (exact comparison) and is installed (comparison ignoring letter case). Returns
// the name to show as the current printer: the preference when it was applied, otherwise
// the default printer; empty when no printer is installed (then nothing is changed).
std::string ReconcilePreferredPrinter();

// True when a queue with this device URI prints to this program's own driverless printer
// (CUPS adds every IPP printer it sees on the network as a queue): such a queue is never
// offered, and never printed to.
bool IsOwnDriverlessEndpoint(const std::string& deviceUri);
