// The service names a DNS-SD responder moves on to after a conflict, on every system.
#include "platform/dnssd.h"

#include "text/utf8.h"

namespace {

// The longest DNS label, and so the longest service name.
constexpr size_t kMaxNameBytes = 63;

}  // namespace

std::string AlternativeServiceName(const std::string& name) {
  std::string base = name;
  unsigned long number = 2;
  const auto mark = name.rfind(" #");
  if (mark != std::string::npos && mark + 2 < name.size() && name[mark + 2] != '0' &&
      name.size() - mark - 2 <= 9 &&
      name.find_first_not_of("0123456789", mark + 2) == std::string::npos) {
    base = name.substr(0, mark);
    number = std::stoul(name.substr(mark + 2)) + 1;
  }
  const std::string suffix = " #" + std::to_string(number);
  return CutUtf8(base, kMaxNameBytes - suffix.size()) + suffix;
}

std::string CDnsSdService::MoveToAlternativeName() {
  name_ = AlternativeServiceName(Name());
  return name_;
}
