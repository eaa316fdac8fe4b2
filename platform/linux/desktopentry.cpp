#include "platform/linux/desktopentry.h"

namespace {

// Characters that oblige an Exec argument to be quoted.
constexpr std::string_view kReservedCharacters = " \t\n\"'\\><~|&;$*?#`()";
// Characters that need a backslash inside a quoted Exec argument.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

std::string QuoteExecArgument(std::string_view argument) {
  const bool quoted = argument.empty() || argument.find_first_of(kReservedCharacters) != std::string_view::npos;
  std::string text = quoted ? "\"" : "";
  for (const char c : argument) {
    if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) text.push_back('\\');
    // A single '%' would start a field code.
    if (c == '%') text.push_back('%');
    text.push_back(c);
  }
  if (quoted) text.push_back('"');
  return text;
}

}  // namespace

std::string EscapeDesktopEntryString(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '\n': escaped += "\\n"; break;
      case '\t': escaped += "\\t"; break;
      case '\r': escaped += "\\r"; break;
      default: escaped.push_back(c);
    }
  }
  return escaped;
}

std::string MakeExecValue(const std::vector<std::string>& arguments) {
  std::string command;
  for (const std::string& argument : arguments) {
    if (!command.empty()) command.push_back(' ');
    command += QuoteExecArgument(argument);
  }
  // Readers undo the string escapes first and the quoting after, so they come last.
  return EscapeDesktopEntryString(command);
}
