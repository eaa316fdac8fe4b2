// HTTP client facility: blocking GET, form POST and file upload over http and https on
// libcurl (WinHTTP on Windows), with certificate checks always on. Every request has a
// connect limit, a read limit and a total limit, so none waits for ever on a server that
// stays silent. One client object belongs to one thread at a time (Cancel excepted);
// separate objects may run on any threads at once.
#pragma once

#include "platform/newfile.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Why a request failed.
enum class HttpFailure {
  None,
  Connect,   // no connection: refused, unreachable, connect time-out, bad address
  Tls,       // handshake or certificate failure
  Timeout,   // a time limit struck: connect, read (no byte for that long) or total
  Status,    // the server answered with an error status (400 and up, or a 3xx not followed)
  Write,     // the body could not be written to the file
  TooLarge,  // the body is longer than the request allows
  Cancelled, // Cancel was called
  Other,     // anything else libcurl reports (too many redirects, a redirect from https
             // to another scheme, protocol errors, ...)
};

struct HttpResult {
  HttpFailure failure = HttpFailure::None;
  int status = 0;       // status of the last answer; 0 when none arrived
  std::string error;    // a short description of the failure, empty on success
  std::string text;     // the body as UTF-8 text (text requests only)
  // The answer's header fields in the order they came, names in lower case.
  std::vector<std::pair<std::string, std::string>> headers;

  bool ok() const { return failure == HttpFailure::None; }
  // The value of the first header field named `lowerName`; empty when there is none.
  std::string Header(const std::string& lowerName) const;
};

// Sent bytes of a request body so far, and the body's whole length.
using HttpUploadProgress = std::function<void(long long sent, long long total)>;

class CHttpClient {
public:
  CHttpClient();
  ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // Connection and TLS handshake; 10 s unless set.
  void SetConnectTimeout(int milliseconds);
  // The longest silence between two received bytes once the connection stands; 30 s
  // unless set.
  void SetReadTimeout(int milliseconds);
  // The whole request, connection included; 60 s unless set. A download into a file is
  // given one more second for every 64 KiB it may bring.
  void SetTotalTimeout(int milliseconds);
  // Off by default; when on, at most 15 redirects are followed, and a request made over
  // https is never redirected to anything else.
  void SetFollowRedirects(bool follow);
  // The Host header sent with each request; empty sends the URL's own host.
  void SetHost(const std::string& host);
  // More header lines ("Name: value") sent with each request.
  void SetHeaders(std::vector<std::string> lines);
  // Off by default; when on, the body and header fields of an answer with an error
  // status are kept as those of a success are (the failure stays Status).
  void SetKeepErrorAnswers(bool keep);
  // Told of the bytes of a file upload as they leave; none when empty.
  void SetUploadProgress(HttpUploadProgress progress);

  // The body, decoded from the charset the answer declares, in `text`. A body over
  // kMaxTextBody bytes is refused (TooLarge).
  HttpResult Get(const std::string& url);
  // The body written to the open `file` as it arrives; nothing is held in memory. A body
  // longer than `maxBytes` stops there and fails (TooLarge).
  HttpResult Get(const std::string& url, CNewFile& file, long long maxBytes);
  // `form` holds "name=value" lines, sent in order as application/x-www-form-urlencoded.
  HttpResult Post(const std::string& url, const std::vector<std::string>& form);
  // The bytes of the file at `path` sent as an application/octet-stream POST; on libcurl
  // announced with "Expect: 100-continue", so a server that refuses them says so first.
  // The total limit grows by a second for every 64 KiB of the file. Other when the file
  // cannot be read.
  HttpResult PostFile(const std::string& url, const std::string& path);

  // Ends the request under way, and every later one at once, with Cancelled. The one
  // call that may come from another thread.
  void Cancel();

  static constexpr long long kMaxTextBody = 1024 * 1024;

  // Status code of the last answer, 0 when none arrived.
  int GetResponseCode() const;

private:
  // What the setters chose, read by every request.
  struct Options {
    int connectTimeoutMs = 10000;
    int readTimeoutMs = 30000;
    int totalTimeoutMs = 60000;
    bool followRedirects = false;
    std::string host;
    std::vector<std::string> headers;
    bool keepErrorAnswers = false;
    HttpUploadProgress progress;
  };
  // One request as the system's HTTP stack runs it.
  struct Request {
    const std::string& url;
    const std::string* form;    // the encoded body of a POST; null for a GET
    std::istream* upload;       // the body of a file upload, `uploadBytes` long; null when none
    long long uploadBytes;
    CNewFile* file;             // receives the body; when null, the body is decoded into the text
    long long maxBytes;
    long long totalMs;
  };
  HttpResult Perform(const Request& request);

  struct Impl;
  Options options_;
  std::unique_ptr<Impl> impl_;
};

// Escapes a whole URL the way the relay expects: in the query, bytes up to 32, above
// 127 and the characters * < > # % " { } | \ ^ [ ] ` become %XX; the path also escapes '+'.
// Scheme, host and the query's '&' and '=' stay as they are.
std::string UrlEncode(const std::string& url);
