// The HTTP client on WinHTTP: Windows' own TLS and certificate store, whose checks are
// never turned off.
#include "platform/httpclient.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <istream>
#include <mutex>
#include <thread>
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include "platform/httptext.h"
#include "platform/win/widetext.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Mozilla/3.0 (compatible; Indy Library)";
constexpr DWORD kMaxRedirects = 15;

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
  return {failure, 0, "WinHTTP error " + std::to_string(error), {}, {}};
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

  HttpResult Perform(const Options& options, const Request& request) {
    lastStatus = 0;

    const std::wstring wideUrl = ToWide(request.url);
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
    WinHttpSetTimeouts(session.handle, options.connectTimeoutMs, options.connectTimeoutMs, options.readTimeoutMs,
                       options.readTimeoutMs);
    InternetHandle connection(WinHttpConnect(session.handle, hostName.c_str(), parts.nPort, 0));
    if (!connection.handle) return Failed(HttpFailure::Connect, GetLastError());
    const HINTERNET handle = WinHttpOpenRequest(connection.handle, request.form ? L"POST" : L"GET", target.c_str(), nullptr,
                                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                 parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!handle) return Failed(HttpFailure::Other, GetLastError());

    {
      std::lock_guard lock(guardLock);
      active = handle;
      finished = false;
      stop = Stop::None;
      if (cancelled) StopActive(Stop::Cancelled);
    }
    std::thread watch([this, deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(request.totalMs)] {
      std::unique_lock lock(guardLock);
      if (!guardWake.wait_until(lock, deadline, [this] { return finished; })) StopActive(Stop::TimedOut);
    });
    HttpResult result = Exchange(handle, options, request);
    {
      std::lock_guard lock(guardLock);
      StopActive(stop);
      finished = true;
    }
    guardWake.notify_all();
    watch.join();
    if (stop == Stop::Cancelled) return {HttpFailure::Cancelled, 0, "the request was cancelled", {}, {}};
    if (stop == Stop::TimedOut && !result.ok()) return {HttpFailure::Timeout, 0, "the request took too long", {}, {}};
    return result;
  }

  HttpResult Exchange(HINTERNET handle, const Options& options, const Request& request) {
    HttpResult result;
    // Never from https to anything else.
    DWORD policy = options.followRedirects ? WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP
                                   : WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    DWORD maxRedirects = kMaxRedirects;
    WinHttpSetOption(handle, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &maxRedirects, sizeof maxRedirects);
    // WinHTTP announces a body's length in 32 bits.
    if (request.upload && request.uploadBytes > MAXDWORD) {
      return {HttpFailure::TooLarge, 0, "the file is larger than 4 GiB", {}, {}};
    }
    std::wstring headers;
    if (!options.host.empty()) headers += L"Host: " + ToWide(options.host) + L"\r\n";
    if (request.form) headers += L"Content-Type: application/x-www-form-urlencoded\r\n";
    if (request.upload) headers += L"Content-Type: application/octet-stream\r\n";
    for (const std::string& line : options.headers) headers += ToWide(line) + L"\r\n";
    if (!headers.empty()) {
      WinHttpAddRequestHeaders(handle, headers.c_str(), static_cast<DWORD>(headers.size()),
                               WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    const DWORD bodyLength = request.form     ? static_cast<DWORD>(request.form->size())
                             : request.upload ? static_cast<DWORD>(request.uploadBytes)
                                              : 0;
    void* bodyData = request.form ? const_cast<char*>(request.form->data()) : WINHTTP_NO_REQUEST_DATA;
    if (!WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, bodyData, request.form ? bodyLength : 0,
                            bodyLength, 0) ||
        (request.upload && !SendUpload(handle, options, request)) || !WinHttpReceiveResponse(handle, nullptr)) {
      const DWORD error = GetLastError();
      return Failed(ClassifyError(error, false), error);
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    result.status = lastStatus = static_cast<int>(status);
    const std::string rawHeaders = ToUtf8(QueryHeader(handle, WINHTTP_QUERY_RAW_HEADERS_CRLF));
    for (size_t start = 0; start < rawHeaders.size();) {
      const size_t end = std::min(rawHeaders.find('\n', start), rawHeaders.size());
      AddHeaderField(result.headers, rawHeaders.substr(start, end - start));
      start = end + 1;
    }
    if (status >= 300) {
      // A redirect that is not followed counts as an error status.
      result.failure = HttpFailure::Status;
      result.error = "HTTP status " + std::to_string(status);
      if (!options.keepErrorAnswers || request.file) return result;
    }

    std::string body;
    long long received = 0;
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!WinHttpReadData(handle, buffer, sizeof buffer, &got)) {
        const DWORD error = GetLastError();
        result = Failed(ClassifyError(error, true), error);
        result.status = lastStatus;
        return result;
      }
      if (got == 0) break;
      received += got;
      if (received > request.maxBytes) {
        result.failure = HttpFailure::TooLarge;
        result.error = "the body is longer than " + std::to_string(request.maxBytes) + " bytes";
        return result;
      }
      if (request.file && !request.file->Write(buffer, got)) {
        result.failure = HttpFailure::Write;
        result.error = "the body could not be written";
        return result;
      }
      if (!request.file) body.append(buffer, got);
    }
    if (!request.file) result.text = DecodeBody(std::move(body), CharsetOf(ToUtf8(QueryHeader(handle, WINHTTP_QUERY_CONTENT_TYPE))));
    return result;
  }

  // The upload's bytes, after the request head; false with the last error set on failure.
  static bool SendUpload(HINTERNET handle, const Options& options, const Request& request) {
    char buffer[65536];
    long long sent = 0;
    while (sent < request.uploadBytes) {
      request.upload->read(buffer, static_cast<std::streamsize>(std::min<long long>(sizeof buffer, request.uploadBytes - sent)));
      const auto got = static_cast<DWORD>(request.upload->gcount());
      DWORD written = 0;
      if (got == 0) {
        SetLastError(ERROR_READ_FAULT);
        return false;
      }
      if (!WinHttpWriteData(handle, buffer, got, &written)) return false;
      sent += got;
      if (options.progress) options.progress(sent, request.uploadBytes);
    }
    return true;
  }
};

CHttpClient::CHttpClient() : impl_(std::make_unique<Impl>()) {}
CHttpClient::~CHttpClient() = default;

HttpResult CHttpClient::Perform(const Request& request) { return impl_->Perform(options_, request); }

int CHttpClient::GetResponseCode() const { return impl_->lastStatus; }

void CHttpClient::Cancel() {
  {
    std::lock_guard lock(impl_->guardLock);
    impl_->cancelled = true;
    impl_->StopActive(Stop::Cancelled);
  }
  impl_->guardWake.notify_all();
}
