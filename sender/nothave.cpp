#include "sender/sender.h"

#include <algorithm>
#include <map>
#include <vector>

#include "text/ascii.h"

namespace {

// The file extensions each token of a not-have list stands for.
const std::map<std::string, std::vector<std::string>> kNotHaveExtensions = {
    {"iWork", {".pages", ".numbers", ".key"}},
    {"Office", {".doc", ".xls", ".ppt"}},
    {"Office2007", {".docx", ".xlsx", ".pptx"}},
    {"PDF", {".pdf"}},
    {"WebArchive", {".webarchive"}},
};

}  // namespace

bool PcCannotPrint(const std::string& notHave, const std::string& fileName) {
  const std::string lower = LowerAscii(fileName);
  size_t start = 0;
  while (start <= notHave.size()) {
    const auto end = std::min(notHave.find(',', start), notHave.size());
    const auto found = kNotHaveExtensions.find(notHave.substr(start, end - start));
    if (found != kNotHaveExtensions.end() &&
        std::any_of(found->second.begin(), found->second.end(), [&](const std::string& ext) { return lower.ends_with(ext); })) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
