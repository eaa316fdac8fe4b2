#include "platform/linux/print/sandboxedpage.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

// Inline styles and embedded pictures and fonts still show; everything else is refused.
// A <meta> before <html> lands in the document's head, ahead of anything of the page.
constexpr char kPolicy[] =
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "style-src 'unsafe-inline'; img-src data:; font-src data:\">";

constexpr char kChromiumPreferences[] = R"({"profile":{"default_content_setting_values":{"javascript":2}}})";

constexpr char kOfficeSettings[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="BlockUntrustedRefererLinks" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="DisableMacrosExecution" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="MacroSecurityLevel" oor:op="fuse"><value>3</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetProxyType" oor:op="fuse"><value>2</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetHTTPProxyName" oor:op="fuse"><value>proxy.invalid</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetHTTPProxyPort" oor:op="fuse"><value>9</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetHTTPSProxyName" oor:op="fuse"><value>proxy.invalid</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetHTTPSProxyPort" oor:op="fuse"><value>9</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetNoProxy" oor:op="fuse"><value></value></prop></item>
</oor:items>
)";

// The policy in the page's own encoding, after its byte order mark: a UTF-16 page is
// read as UTF-16 only while the mark comes first.
std::string EncodedPolicy(const std::string& head, size_t& markLength) {
  const std::string policy = kPolicy;
  if (head.starts_with("\xEF\xBB\xBF")) {
    markLength = 3;
    return policy;
  }
  const bool little = head.starts_with("\xFF\xFE");
  if (!little && !head.starts_with("\xFE\xFF")) {
    markLength = 0;
    return policy;
  }
  markLength = 2;
  std::string wide;
  for (const char c : policy) {
    wide += little ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return wide;
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  return file.write(content.data(), static_cast<std::streamsize>(content.size())) && file.flush();
}

}  // namespace

int WriteSandboxedPage(const std::string& source, const std::string& target) {
  std::ifstream in(source, std::ios::binary);
  if (!in) return errno != 0 ? errno : EIO;
  char head[3] = {};
  in.read(head, sizeof head);
  const std::string start(head, static_cast<size_t>(in.gcount()));
  in.clear();
  size_t markLength = 0;
  const std::string policy = EncodedPolicy(start, markLength);
  in.seekg(static_cast<std::streamoff>(markLength));

  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(start.data(), static_cast<std::streamsize>(markLength));
  out.write(policy.data(), static_cast<std::streamsize>(policy.size()));
  // An empty page leaves nothing to copy, which is no failure.
  if (in.peek() != std::ifstream::traits_type::eof()) out << in.rdbuf();
  out.flush();
  return out ? 0 : (errno != 0 ? errno : EIO);
}

std::string PrepareChromiumProfile(const std::string& folder) {
  const std::string profile = folder + "/profile";
  return WriteFile(profile + "/Default/Preferences", kChromiumPreferences) ? profile : std::string();
}

std::string PrepareOfficeProfile(const std::string& folder) {
  const std::string profile = folder + "/profile";
  return WriteFile(profile + "/user/registrymodifications.xcu", kOfficeSettings) ? profile : std::string();
}
