// The texts the desktop's windows show, the same for every face. Stateless; callable
// from any thread.
#pragma once

#include <string>
#include <vector>

#include "base/documenthistory.h"

constexpr char kProductName[] = "Olvaro Desktop";
constexpr char kNoPrinterInstalled[] = "<no printer installed>";
constexpr char kNoAuthCode[] = "- - - - -";
constexpr char kAddressCaption[] = "IP:";
constexpr char kAuthCodeCaption[] = "Authcode:";
constexpr char kMakerWebSite[] = "https://olvaro.app/";
constexpr char kNewVersionMessage[] =
    "The new version of Olvaro Desktop is now available. Would you like to download it now?";
constexpr char kNewVersionDownload[] = "Download";
constexpr char kNewVersionLater[] = "Remind Me Later";

// The address label: one address a line, each ending in a line break; "No IP\n" when
// there is none.
std::string AddressLabelText(const std::vector<std::string>& addresses);

// The auth-code label: the code, or the dashes while there is none.
std::string AuthCodeLabelText(const std::string& code);

// The hidden connection label after the poller's last exchange.
std::string ConnectionLabelText(bool connected);

// The About window's version line, "Version " and the product version.
std::string AboutVersionText();

// The notification for a document that was not printed: "report.xyz was not printed:
// no program here can print this kind of file".
std::string NotPrintedNotice(const DocumentRecord& record);

// The "Recent documents" window: its title, column headings and one row a document.
constexpr char kRecentDocumentsTitle[] = "Recent documents";
const std::vector<std::string>& RecentDocumentColumns();
std::vector<std::string> RecentDocumentRow(const DocumentRecord& record);
