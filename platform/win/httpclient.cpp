// The HTTP client on WinHTTP: Windows' own TLS and certificate store, whose checks are
// never turned off.
#include "platform/httpclient.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include "platform/httptext.h"
#include "platform/win/widetext.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Mozilla/3.0 (compatible; Indy Library)";
constexpr int kDefaultConnectMs = 10000;
constexpr int kDefaultReadMs = 30000;
constexpr int kDefaultTotalMs = 60000;
constexpr DWORD kMaxRedirects = 15;
// A download may take one more second for each of these many bytes it may bring: a
// large document on a slow line still arrives, an endless trickle does not go on for ever.
constexpr long long kSlowestDownloadBytesPerSecond = 64 * 1024;

struct InternetHandle {
  HINTERNET handle = nullptr;
  explicit InternetHandle(HINTERNET h) : handle(h) {}
  ~InternetHandle() {
    if (handle) WinHttpCloseHandle(handle);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
};

bool IsTlsError(DWORD error) {
  return error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
         error == ERROR_WINHTTP_SECURE_INVALID_CA || error == ERROR_WINHTTP_SECURE_INVALID_CERT ||
         error == ERROR_WINHTTP_SECURE_CERT_CN_INVALID || error == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID ||
         error == ERROR_WINHTTP_SECURE_CERT_REVOKED || error == ERROR_WINHTTP_SECURE_CERT_REV_FAILED ||
         error == ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE || error == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED;
}

// Before the answer began, a time-out or a broken connection means no connection.
HttpFailure ClassifyError(DWORD error, bool answerStarted) {
  if (IsTlsError(error)) return HttpFailure::Tls;
  // Wine reports the socket's own time-out where Windows reports WinHTTP's.
  if (error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT) {
    return answerStarted ? HttpFailure::Timeout : HttpFailure::Connect;
  }
  if (error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
      error == ERROR_WINHTTP_INVALID_URL || error == ERROR_WINHTTP_UNRECOGNIZED_SCHEME ||
      (error == ERROR_WINHTTP_CONNECTION_ERROR && !answerStarted)) {
    return HttpFailure::Connect;
  }
  return HttpFailure::Other;
}

// The Windows code page of a charset name; 0 when it is not one we know.
UINT CodePageOf(const std::string& charset) {
  if (charset == "iso-8859-1" || charset == "latin1") return 28591;
  for (const char* prefix : {"windows-", "cp"}) {
    if (charset.starts_with(prefix)) return static_cast<UINT>(std::atoi(charset.c_str() + strlen(prefix)));
  }
  if (charset.starts_with("iso-8859-")) return 28590 + static_cast<UINT>(std::atoi(charset.c_str() + 9));
  if (charset == "koi8-r") return 20866;
  if (charset == "shift_jis") return 932;
  return 0;
}

// The body as UTF-8; a body in an unknown or undeclared charset is taken as it came.
std::string DecodeBody(std::string body, const std::string& charset) {
  const UINT codePage = CodePageOf(charset);
  if (codePage == 0 || body.empty()) return body;
  const int length = MultiByteToWideChar(codePage, 0, body.data(), static_cast<int>(body.size()), nullptr, 0);
  if (length <= 0) return body;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, body.data(), static_cast<int>(body.size()), wide.data(), length);
  return ToUtf8(wide);
}

HttpResult Failed(HttpFailure failure, DWORD error) {
  return {failure, 0, "WinHTTP error " + std::to_string(error), {}};
}

std::wstring QueryHeader(HINTERNET request, DWORD query) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  if (size == 0) return {};
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(wchar_t));
  return value;
}

}  // namespace

// Why a request was ended from outside it.
enum class Stop { None, Cancelled, TimedOut };

struct CHttpClient::Impl {
  int connectTimeoutMs = kDefaultConnectMs;
  int readTimeoutMs = kDefaultReadMs;
  int totalTimeoutMs = kDefaultTotalMs;
  bool followRedirects = false;
  std::string host;
  int lastStatus = 0;

  // WinHTTP has no limit for a whole request, nor a way to end one from outside but
  // closing its handle from another thread: the watch of each request does that.
  std::mutex guardLock;
  std::condition_variable guardWake;
  HINTERNET active = nullptr;  // the request under way; closed by whoever ends it first
  bool cancelled = false;      // Cancel was called: every later request ends at once
  bool finished = false;       // the request under way is over; its watch may leave
  Stop stop = Stop::None;

  void StopActive(Stop why) {
    if (active) {
      WinHttpCloseHandle(active);
      active = nullptr;
      stop = why;
    }
  }

  HttpResult Perform(const std::string& url, const std::string* formBody, std::string* text, CNewFile* file,
                     long long maxBytes) {
    HttpResult result;
    lastStatus = 0;

    const std::wstring wideUrl = ToWide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return Failed(HttpFailure::Connect, GetLastError());
    const std::wstring hostName(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
    target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.empty()) target = L"/";

    InternetHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.handle) return Failed(HttpFailure::Other, GetLastError());
    // Sending waits as long as reading may.
    WinHttpSetTimeouts(session.handle, connectTimeoutMs, connectTimeoutMs, readTimeoutMs, readTimeoutMs);
    InternetHandle connection(WinHttpConnect(session.handle, hostName.c_str(), parts.nPort, 0));
    if (!connection.handle) return Failed(HttpFailure::Connect, GetLastError());
    const HINTERNET request = WinHttpOpenRequest(connection.handle, formBody ? L"POST" : L"GET", target.c_str(), nullptr,
                                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                 parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!request) return Failed(HttpFailure::Other, GetLastError());

    long long totalMs = totalTimeoutMs;
    if (file) totalMs += maxBytes / kSlowestDownloadBytesPerSecond * 1000;
    {
      std::lock_guard lock(guardLock);
      active = request;
      finished = false;
      stop = Stop::None;
      if (cancelled) StopActive(Stop::Cancelled);
    }
    std::thread watch([this, deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs)] {
      std::unique_lock lock(guardLock);
      if (!guardWake.wait_until(lock, deadline, [this] { return finished; })) StopActive(Stop::TimedOut);
    });
    result = Exchange(request, formBody, text, file, maxBytes);
    {
      std::lock_guard lock(guardLock);
      StopActive(stop);
      finished = true;
    }
    guardWake.notify_all();
    watch.join();
    if (stop == Stop::Cancelled) return {HttpFailure::Cancelled, 0, "the request was cancelled", {}};
    if (stop == Stop::TimedOut && !result.ok()) return {HttpFailure::Timeout, 0, "the request took too long", {}};
    return result;
  }

  HttpResult Exchange(HINTERNET request, const std::string* formBody, std::string* text, CNewFile* file,
                      long long maxBytes) {
    HttpResult result;
    // Never from https to anything else.
    DWORD policy = followRedirects ? WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP
                                   : WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    DWORD maxRedirects = kMaxRedirects;
    WinHttpSetOption(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &maxRedirects, sizeof maxRedirects);
    std::wstring headers;
    if (!host.empty()) headers += L"Host: " + ToWide(host) + L"\r\n";
    if (formBody) headers += L"Content-Type: application/x-www-form-urlencoded\r\n";
    if (!headers.empty()) {
      WinHttpAddRequestHeaders(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                               WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    const DWORD bodyLength = formBody ? static_cast<DWORD>(formBody->size()) : 0;
    void* bodyData = formBody ? const_cast<char*>(formBody->data()) : WINHTTP_NO_REQUEST_DATA;
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, bodyData, bodyLength, bodyLength, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
      const DWORD error = GetLastError();
      return Failed(ClassifyError(error, false), error);
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    result.status = lastStatus = static_cast<int>(status);
    if (status >= 300) {
      // A redirect that is not followed counts as an error status.
      result.failure = HttpFailure::Status;
      result.error = "HTTP status " + std::to_string(status);
      return result;
    }

    std::string body;
    long long received = 0;
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!WinHttpReadData(request, buffer, sizeof buffer, &got)) {
        const DWORD error = GetLastError();
        result = Failed(ClassifyError(error, true), error);
        result.status = lastStatus;
        return result;
      }
      if (got == 0) break;
      received += got;
      if (received > maxBytes) {
        result.failure = HttpFailure::TooLarge;
        result.error = "the body is longer than " + std::to_string(maxBytes) + " bytes";
        return result;
      }
      if (file && !file->Write(buffer, got)) {
        result.failure = HttpFailure::Write;
        result.error = "the body could not be written";
        return result;
      }
      if (text) body.append(buffer, got);
    }
    if (text) *text = DecodeBody(std::move(body), CharsetOf(ToUtf8(QueryHeader(request, WINHTTP_QUERY_CONTENT_TYPE))));
    return result;
  }
};

CHttpClient::CHttpClient() : impl_(std::make_unique<Impl>()) {}
CHttpClient::~CHttpClient() = default;

void CHttpClient::SetConnectTimeout(int milliseconds) { impl_->connectTimeoutMs = std::max(1, milliseconds); }
void CHttpClient::SetReadTimeout(int milliseconds) { impl_->readTimeoutMs = std::max(1, milliseconds); }
void CHttpClient::SetTotalTimeout(int milliseconds) { impl_->totalTimeoutMs = std::max(1, milliseconds); }
void CHttpClient::SetFollowRedirects(bool follow) { impl_->followRedirects = follow; }
void CHttpClient::SetHost(const std::string& host) { impl_->host = host; }

HttpResult CHttpClient::Get(const std::string& url) {
  std::string text;
  HttpResult result = impl_->Perform(url, nullptr, &text, nullptr, kMaxTextBody);
  if (result.ok()) result.text = std::move(text);
  return result;
}

HttpResult CHttpClient::Get(const std::string& url, CNewFile& file, long long maxBytes) {
  if (!file.IsOpen()) return {HttpFailure::Write, 0, "the file is not open", {}};
  HttpResult result = impl_->Perform(url, nullptr, nullptr, &file, maxBytes);
  // The file gathers what arrives: its last write may fail only now.
  if (result.ok() && !file.Flush()) result = {HttpFailure::Write, result.status, std::strerror(errno), {}};
  return result;
}

HttpResult CHttpClient::Post(const std::string& url, const std::vector<std::string>& form) {
  const std::string body = FormBody(form);
  std::string text;
  HttpResult result = impl_->Perform(url, &body, &text, nullptr, kMaxTextBody);
  if (result.ok()) result.text = std::move(text);
  return result;
}

int CHttpClient::GetResponseCode() const { return impl_->lastStatus; }

void CHttpClient::Cancel() {
  {
    std::lock_guard lock(impl_->guardLock);
    impl_->cancelled = true;
    impl_->StopActive(Stop::Cancelled);
  }
  impl_->guardWake.notify_all();
}
