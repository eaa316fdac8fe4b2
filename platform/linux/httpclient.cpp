#include "platform/httpclient.h"

#include "platform/httptext.h"

#include <curl/curl.h>
#include <iconv.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <istream>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
constexpr long kMaxRedirects = 15;
constexpr int kLongestPollMs = 1000;

// libcurl wants one global initialisation before any thread uses it.
struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
};

void EnsureCurlGlobal() {
  static CurlGlobal global;
}

// Trusts the bundle named by CURL_CA_BUNDLE next to the system's authorities, as the
// curl tool lets people do for a private authority.
CURLcode AddExtraAuthorities(CURL*, void* sslContext, void* bundlePath) {
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  if (X509_STORE_load_file(store, static_cast<const char*>(bundlePath)) != 1) ERR_clear_error();
  return CURLE_OK;
}

HttpFailure ClassifyCurlError(CURLcode code) {
  switch (code) {
    case CURLE_OK: return HttpFailure::None;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::Connect;
    case CURLE_OPERATION_TIMEDOUT: return HttpFailure::Timeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return HttpFailure::Tls;
    case CURLE_HTTP_RETURNED_ERROR: return HttpFailure::Status;
    case CURLE_WRITE_ERROR: return HttpFailure::Write;
    case CURLE_FILESIZE_EXCEEDED: return HttpFailure::TooLarge;
    default: return HttpFailure::Other;
  }
}

// The body as UTF-8. A body without a declared charset, or with one iconv does not
// know, is taken as it came.
std::string DecodeBody(std::string body, const std::string& charset) {
  if (charset.empty() || charset == "utf-8" || charset == "utf8" || charset == "us-ascii") return body;
  iconv_t converter = iconv_open("UTF-8", charset.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return body;
  std::string decoded(body.size() * 4 + 4, '\0');
  char* in = body.data();
  size_t inLeft = body.size();
  char* out = decoded.data();
  size_t outLeft = decoded.size();
  const size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  if (converted == static_cast<size_t>(-1)) return body;
  decoded.resize(decoded.size() - outLeft);
  return decoded;
}

}  // namespace

struct CHttpClient::Impl {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  std::atomic<bool> cancelled{false};
  int lastStatus = 0;
  const std::string extraBundle = [] {
    const char* path = std::getenv("CURL_CA_BUNDLE");
    return std::string(path ? path : "");
  }();

  // One transfer's state, seen by the callbacks.
  std::string* textSink = nullptr;
  CNewFile* fileSink = nullptr;
  std::istream* uploadSource = nullptr;
  const HttpUploadProgress* progress = nullptr;
  std::vector<std::pair<std::string, std::string>> answerHeaders;
  long long maxBytes = 0;
  long long received = 0;
  bool tooLarge = false;
  std::optional<Clock::time_point> lastActivity;

  Impl() {
    EnsureCurlGlobal();
    easy = curl_easy_init();
    multi = curl_multi_init();
  }
  ~Impl() {
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
  }

  static size_t OnBody(char* data, size_t, size_t length, void* self) {
    auto* impl = static_cast<Impl*>(self);
    impl->lastActivity = Clock::now();
    impl->received += static_cast<long long>(length);
    if (impl->received > impl->maxBytes) {
      impl->tooLarge = true;
      return 0;
    }
    if (impl->fileSink) return impl->fileSink->Write(data, length) ? length : 0;
    impl->textSink->append(data, length);
    return length;
  }

  static size_t OnHeader(char* data, size_t, size_t length, void* self) {
    auto* impl = static_cast<Impl*>(self);
    impl->lastActivity = Clock::now();
    AddHeaderField(impl->answerHeaders, std::string(data, length));
    return length;
  }

  // Bytes leaving count as activity: a long upload is not a silent server.
  static size_t OnUploadRead(char* data, size_t, size_t length, void* self) {
    auto* impl = static_cast<Impl*>(self);
    impl->lastActivity = Clock::now();
    impl->uploadSource->read(data, static_cast<std::streamsize>(length));
    if (impl->uploadSource->bad()) return CURL_READFUNC_ABORT;
    return static_cast<size_t>(impl->uploadSource->gcount());
  }

  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t total, curl_off_t sent) {
    (*static_cast<Impl*>(self)->progress)(sent, total);
    return 0;
  }

  // The connection stands (TCP and TLS): from here on the read time-out counts.
  static int OnConnected(void* self, char*, char*, int, int) {
    static_cast<Impl*>(self)->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
  }

  void Configure(const Options& options, const Request& request, curl_slist* headers) {
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Once on https, a redirect must not put the rest of the exchange in clear text.
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, IsHttpsUrl(request.url) ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, options.followRedirects ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(request.totalMs));
    // An announced length over the limit is refused before any byte of the body.
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBytes));
    // An error answer a text request keeps is read like any other, within the same cap.
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, options.keepErrorAnswers && !request.file ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Impl::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    if (request.upload) {
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.uploadBytes));
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Impl::OnUploadRead);
      curl_easy_setopt(easy, CURLOPT_READDATA, this);
      if (options.progress) {
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
      }
    }
    if (!extraBundle.empty()) {
      curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &AddExtraAuthorities);
      curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, extraBundle.c_str());
      // Each connection gets a store of its own, so the extra authorities never land in
      // a cached store that libcurl shares.
      curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    }
  }

  // Runs the configured transfer, enforcing the read time-out as an inactivity limit.
  HttpResult Run(int readTimeoutMs) {
    HttpResult result;
    lastActivity.reset();
    received = 0;
    tooLarge = false;
    answerHeaders.clear();
    curl_multi_add_handle(multi, easy);
    CURLcode code = CURLE_OK;
    bool timedOut = false;
    for (int running = 1; running;) {
      if (cancelled) break;
      curl_multi_perform(multi, &running);
      if (!running) break;
      int waitMs = kLongestPollMs;
      if (lastActivity) {
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
            Clock::now() - *lastActivity).count();
        if (silent >= readTimeoutMs) {
          timedOut = true;
          break;
        }
        waitMs = std::min<int>(waitMs, readTimeoutMs - static_cast<int>(silent));
      }
      curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE) code = message->data.result;
    }
    curl_multi_remove_handle(multi, easy);

    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    result.status = lastStatus = static_cast<int>(status);
    if (cancelled) {
      result.failure = HttpFailure::Cancelled;
      result.error = "cancelled";
    } else if (timedOut) {
      result.failure = HttpFailure::Timeout;
      result.error = "read time-out";
    } else if (tooLarge) {
      result.failure = HttpFailure::TooLarge;
      result.error = "body over " + std::to_string(maxBytes) + " bytes";
    } else if (code != CURLE_OK) {
      result.failure = ClassifyCurlError(code);
      result.error = curl_easy_strerror(code);
    } else if (status >= 300) {
      // A redirect that is not followed counts as an error status.
      result.failure = HttpFailure::Status;
      result.error = "HTTP status " + std::to_string(status);
    }
    return result;
  }

};

CHttpClient::CHttpClient() : impl_(std::make_unique<Impl>()) {}
CHttpClient::~CHttpClient() = default;

HttpResult CHttpClient::Perform(const Request& request) {
  Impl& impl = *impl_;
  if (!impl.easy || !impl.multi) return {HttpFailure::Other, 0, "libcurl unavailable", {}, {}};
  curl_slist* headers = nullptr;
  if (!options_.host.empty()) headers = curl_slist_append(headers, ("Host: " + options_.host).c_str());
  if (request.form) {
    headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    headers = curl_slist_append(headers, "Expect:");
  }
  if (request.upload) {
    headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
    headers = curl_slist_append(headers, "Expect: 100-continue");
  }
  for (const std::string& line : options_.headers) headers = curl_slist_append(headers, line.c_str());
  std::string body;
  impl.textSink = &body;
  impl.fileSink = request.file;
  impl.uploadSource = request.upload;
  impl.progress = &options_.progress;
  impl.maxBytes = request.maxBytes;
  impl.Configure(options_, request, headers);
  if (request.form) {
    curl_easy_setopt(impl.easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.form->size()));
    curl_easy_setopt(impl.easy, CURLOPT_COPYPOSTFIELDS, request.form->c_str());
  }
  HttpResult result = impl.Run(options_.readTimeoutMs);
  impl.textSink = nullptr;
  impl.fileSink = nullptr;
  impl.uploadSource = nullptr;
  curl_slist_free_all(headers);
  result.headers = std::move(impl.answerHeaders);
  const bool keptError = result.failure == HttpFailure::Status && options_.keepErrorAnswers;
  if ((result.ok() || keptError) && !request.file) {
    const char* contentType = nullptr;
    curl_easy_getinfo(impl.easy, CURLINFO_CONTENT_TYPE, &contentType);
    result.text = DecodeBody(std::move(body), CharsetOf(contentType ? contentType : ""));
  }
  return result;
}

int CHttpClient::GetResponseCode() const { return impl_->lastStatus; }

void CHttpClient::Cancel() {
  impl_->cancelled = true;
  if (impl_->multi) curl_multi_wakeup(impl_->multi);
}
