#include "platform/linux/print/office.h"

#include "platform/process.h"
#include "print/jobfiles.h"

std::string FindOfficeProgram() { return FindProgramOnPath("soffice"); }

int StartOfficePrint(const std::string& office, const std::string& path) {
  return StartDetachedProcess({office, "--headless", "-p", AbsolutePath(path)});
}
