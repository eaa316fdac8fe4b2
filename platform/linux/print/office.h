// LibreOffice as the word processor and office suite of the print methods. Any thread.
#pragma once

#include <string>

// Full path of LibreOffice's `soffice` on PATH; empty when it is not installed.
std::string FindOfficeProgram();

// Starts LibreOffice (`office`, from FindOfficeProgram) detached to print `path` on the
// default printer. 0 once started, otherwise the errno value of the failed start.
int StartOfficePrint(const std::string& office, const std::string& path);
