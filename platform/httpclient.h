// HTTP client facility: blocking GET and form POST over http and https on libcurl, with
// certificate checks always on. One client object belongs to one thread at a time;
// separate objects may run on any threads at once.
#pragma once

#include "platform/newfile.h"

#include <memory>
#include <string>
#include <vector>

// Why a request failed.
enum class HttpFailure {
  None,
  Connect,   // no connection: refused, unreachable, connect time-out, bad address
  Tls,       // handshake or certificate failure
  Timeout,   // the read time-out struck: no byte arrived for that long
  Status,    // the server answered with an error status (400 and up, or a 3xx not followed)
  Write,     // the body could not be written to the file
  Other,     // anything else libcurl reports (too many redirects, protocol errors, ...)
};

struct HttpResult {
  HttpFailure failure = HttpFailure::None;
  int status = 0;       // status of the last answer; 0 when none arrived
  std::string error;    // a short description of the failure, empty on success
  std::string text;     // the body as UTF-8 text (text requests only)

  bool ok() const { return failure == HttpFailure::None; }
};

class CHttpClient {
public:
  CHttpClient();
  ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // 0 leaves the library's default (a connect limit of 300 s, no read limit).
  void SetConnectTimeout(int milliseconds);
  // The longest silence between two received bytes once the connection stands.
  void SetReadTimeout(int milliseconds);
  // Off by default; when on, at most 15 redirects are followed.
  void SetFollowRedirects(bool follow);
  // The Host header sent with each request; empty sends the URL's own host.
  void SetHost(const std::string& host);

  // The body, decoded from the charset the answer declares, in `text`.
  HttpResult Get(const std::string& url);
  // The body written to the open `file` as it arrives; nothing is held in memory.
  HttpResult Get(const std::string& url, CNewFile& file);
  // `form` holds "name=value" lines, sent in order as application/x-www-form-urlencoded.
  HttpResult Post(const std::string& url, const std::vector<std::string>& form);

  // Status code of the last answer, 0 when none arrived.
  int GetResponseCode() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Escapes a whole URL the way the relay expects: in the query, bytes up to 32, above
// 127 and the characters * < > # % " { } | \ ^ [ ] ` become %XX; the path also escapes '+'.
// Scheme, host and the query's '&' and '=' stay as they are.
std::string UrlEncode(const std::string& url);
