#include "platform/linux/osrelease.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>
#include <sys/utsname.h>

#include "platform/osversion.h"

namespace {

constexpr char kPrettyNameKey[] = "PRETTY_NAME=";

// Undoes the quoting of one shell-style value: '...' is literal, "..." takes a backslash
// before $ " ` \ as that character, bare text a backslash before any character.
std::string Unquote(const std::string& value) {
  std::string result;
  char quote = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quote == '\'') {
      if (c == '\'') {
        quote = 0;
      } else {
        result += c;
      }
    } else if (c == '\\' && i + 1 < value.size() &&
               (quote == 0 || std::string_view("$\"`\\").find(value[i + 1]) != std::string_view::npos)) {
      result += value[++i];
    } else if (c == '"' || (c == '\'' && quote == 0)) {
      quote = quote == c ? 0 : c;
    } else {
      result += c;
    }
  }
  return result;
}

std::string ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

}  // namespace

std::string ParseOsReleasePrettyName(const std::string& content) {
  std::string value;
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(kPrettyNameKey, 0) != 0) continue;
    value = Unquote(line.substr(sizeof kPrettyNameKey - 1));
  }
  // The text ends up in a protocol header line, so no control character may survive.
  for (char& c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return value;
}

std::string FormatKernelRelease(const std::string& release) {
  unsigned major = 0;
  unsigned minor = 0;
  if (std::sscanf(release.c_str(), "%u.%u", &major, &minor) != 2) return "Linux";
  return "Linux " + std::to_string(major) + "." + std::to_string(minor);
}

std::string DescribeOperatingSystem() {
  // os-release(5): /etc/os-release first, the vendor's copy in /usr/lib when absent.
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    const std::string name = ParseOsReleasePrettyName(ReadFile(path));
    if (name.find_first_not_of(' ') != std::string::npos) return name;
  }
  utsname system{};
  return FormatKernelRelease(uname(&system) == 0 ? system.release : "");
}
