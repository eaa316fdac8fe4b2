#include "sender/sender.h"

#include <algorithm>

#include "text/ascii.h"
#include "wire/protocol.h"

bool PcCannotPrint(const std::string& notHave, const std::string& fileName) {
  const std::string lower = LowerAscii(fileName);
  size_t start = 0;
  while (start <= notHave.size()) {
    const auto end = std::min(notHave.find(kNotHaveSeparator, start), notHave.size());
    const std::string word = notHave.substr(start, end - start);
    for (const NotHaveWord& entry : kNotHaveWords) {
      if (word != entry.word) continue;
      for (const char* extension : entry.extensions) {
        if (extension && lower.ends_with(extension)) return true;
      }
    }
    start = end + 1;
  }
  return false;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
