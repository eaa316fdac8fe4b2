#include "platform/httptext.h"

#include <algorithm>
#include <cctype>

#include "platform/httpclient.h"
#include "text/ascii.h"

namespace {

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool IsFormSafe(unsigned char c) {
  return std::isalnum(c) || c == '*' || c == '-' || c == '.' || c == '_';
}

void AppendPercent(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

// HTML form encoding of one name or value: blanks become '+'.
std::string FormEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (IsFormSafe(c)) out += static_cast<char>(c);
    else if (c == ' ') out += '+';
    else AppendPercent(out, c);
  }
  return out;
}

}  // namespace

std::string CharsetOf(const std::string& contentType) {
  const std::string lowered = Lowered(contentType);
  auto at = lowered.find("charset=");
  if (at == std::string::npos) return {};
  at += 8;
  if (at < lowered.size() && lowered[at] == '"') ++at;
  const auto end = lowered.find_first_of("\"; \t", at);
  return lowered.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string FormBody(const std::vector<std::string>& form) {
  std::string body;
  for (const std::string& line : form) {
    if (!body.empty()) body += '&';
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      body += FormEncode(line);
      continue;
    }
    body += FormEncode(line.substr(0, equals)) + '=' + FormEncode(line.substr(equals + 1));
  }
  return body;
}

bool NeedsUrlEscape(unsigned char c, bool inPath) {
  if (c <= 32 || c > 127) return true;
  if (inPath && c == '+') return true;
  static const std::string kReserved = "*<>#%\"{}|\\^[]`";
  return kReserved.find(static_cast<char>(c)) != std::string::npos;
}

std::string UrlEncode(const std::string& url) {
  size_t pathStart = 0;
  const auto schemeEnd = url.find("://");
  if (schemeEnd != std::string::npos) {
    pathStart = url.find_first_of("/?", schemeEnd + 3);
    if (pathStart == std::string::npos) return url;
  }
  std::string out = url.substr(0, pathStart);
  bool inPath = true;
  for (size_t i = pathStart; i < url.size(); ++i) {
    const auto c = static_cast<unsigned char>(url[i]);
    if (inPath && c == '?') {
      inPath = false;
      out += '?';
    } else if (NeedsUrlEscape(c, inPath)) {
      AppendPercent(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool IsHttpsUrl(const std::string& url) { return Lowered(url.substr(0, 6)) == "https:"; }

void AddHeaderField(std::vector<std::pair<std::string, std::string>>& headers, const std::string& line) {
  if (line.starts_with("HTTP/")) {
    // A new answer begins (after "100 Continue" or a redirect): only its own fields count.
    headers.clear();
    return;
  }
  const auto colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return;
  const auto start = line.find_first_not_of(" \t", colon + 1);
  const auto end = line.find_last_not_of(" \t\r\n");
  headers.emplace_back(LowerAscii(line.substr(0, colon)),
                       start == std::string::npos || end < start ? "" : line.substr(start, end - start + 1));
}
