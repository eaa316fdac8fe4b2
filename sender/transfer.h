// HTTP exchanges of the sender on libcurl: a small form, a GET, and a file streamed as
// a request body with a progress bar. One call at a time per thread.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Exchange {
  bool connected = false;  // false: no answer at all (refused, unreachable, TLS failure)
  std::string error;       // why there was no answer
  long status = 0;
  std::map<std::string, std::string> headers;  // names in lower case; Set-Cookie values joined by "\n"
  std::string body;
};

// `headers` are whole lines such as "Cookie: a=b". CURL_CA_BUNDLE names the authorities
// trusted for https, as it does for the curl tool.
Exchange HttpGet(const std::string& url, const std::vector<std::string>& headers = {});
Exchange HttpPostForm(const std::string& url, const std::string& form, const std::vector<std::string>& headers = {});
// Sends the file at `path` as the body; shows progress on the standard error when it is
// a terminal, else nothing. False `connected` with `error` also when the file cannot be read.
Exchange HttpPostFile(const std::string& url, const std::string& path, const std::vector<std::string>& headers);

// `text` percent-encoded for a query value.
std::string QueryEscape(const std::string& text);
