#include "cloud/printercloud.h"

#include <charconv>

#include "base/spool.h"
#include "wire/protocol.h"

namespace {

constexpr int32_t kMaxCopies = 99;

// A whole field holding a decimal integer in the signed 32-bit range.
bool ParseInt32(const std::string& field, int32_t& value) {
  const char* first = field.data();
  const char* last = first + field.size();
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last && first != last;
}

// "CloudPrint_" + position + "_" + the document name made safe as a spool file name: no
// path separator or reserved character, at most one file-system name long.
std::string CloudSpoolName(int position, const std::string& documentName) {
  return MakeSpoolFileName(documentName, "CloudPrint_" + std::to_string(position) + "_");
}

}  // namespace

std::vector<std::string> SplitText(const std::string& text, char delimiter) {
  std::vector<std::string> items;
  size_t start = 0;
  while (text.size() - start > 1) {
    const auto found = text.find(delimiter, start);
    const size_t end = found == std::string::npos ? text.size() : found;
    items.push_back(text.substr(start, end - start));
    start = found == std::string::npos ? text.size() : found + 1;
  }
  // What is left has at most one character.
  const std::string rest = text.substr(start);
  if (!rest.empty() && rest != "0" && rest[0] != delimiter) items.push_back(rest);
  return items;
}

bool ParseQueueLine(const std::string& line, int position, QueueTask& task) {
  task = QueueTask{};
  if (line.empty()) return false;
  const std::vector<std::string> fields = SplitText(line, kQueueFieldSeparator);
  const auto field = [&fields](QueueField which) {
    return static_cast<size_t>(which) < fields.size() ? fields[which] : std::string();
  };
  task.id = field(kQueueJobId);
  task.file = field(kQueueFile);
  // Without a document name there is no spool file to write the job to.
  if (field(kQueueName).empty()) return false;
  task.name = field(kQueueName);
  task.localName = CloudSpoolName(position, task.name);

  // A missing field counts as empty (size 0, one copy); a present one must be a number.
  int32_t size = 0;
  if (fields.size() > kQueueSize && !ParseInt32(fields[kQueueSize], size)) return false;
  task.size = size;
  int32_t copies = 1;
  if (fields.size() > kQueueCopies && !ParseInt32(fields[kQueueCopies], copies)) return false;
  task.copies = copies >= 1 && copies <= kMaxCopies ? copies : 1;
  return true;
}
