#include "desktopcore/popuptexts.h"

#include "base/eventlog.h"
#include "base/version.h"

std::string AddressLabelText(const std::vector<std::string>& addresses) {
  std::string text;
  for (const std::string& address : addresses) text += address + '\n';
  return text.empty() ? "No IP\n" : text;
}

std::string AuthCodeLabelText(const std::string& code) { return code.empty() ? kNoAuthCode : code; }

std::string ConnectionLabelText(bool connected) { return connected ? "Connected" : "Not connected"; }

std::string AboutVersionText() { return std::string("Version ") + kProductVersion; }

std::string NotPrintedNotice(const DocumentRecord& record) {
  return record.name + " was not printed: " + record.reason;
}

const std::vector<std::string>& RecentDocumentColumns() {
  static const std::vector<std::string> columns{"Time", "Document", "From", "Printer", "Result"};
  return columns;
}

std::vector<std::string> RecentDocumentRow(const DocumentRecord& record) {
  const std::string source = record.source == kCloudSource ? "cloud relay" : "phone " + record.source;
  return {FormatLocalTime(record.time), record.name, source, record.printer.empty() ? "-" : record.printer,
          record.printed ? "printed" : "not printed: " + record.reason};
}
