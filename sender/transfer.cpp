#include "sender/transfer.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "text/ascii.h"

namespace {

size_t OnBody(char* data, size_t, size_t size, void* exchange) {
  static_cast<Exchange*>(exchange)->body.append(data, size);
  return size;
}

size_t OnHeader(char* data, size_t, size_t size, void* exchange) {
  auto& headers = static_cast<Exchange*>(exchange)->headers;
  const std::string line(data, size);
  const auto colon = line.find(':');
  if (colon == std::string::npos) return size;
  const std::string name = LowerAscii(line.substr(0, colon));
  std::string value = line.substr(colon + 1);
  value.erase(0, value.find_first_not_of(' '));
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
  std::string& stored = headers[name];
  stored += (stored.empty() ? "" : "\n") + value;
  return size;
}

int OnProgress(void*, curl_off_t, curl_off_t, curl_off_t total, curl_off_t sent) {
  if (total <= 0) return 0;
  constexpr int kWidth = 40;
  const int filled = static_cast<int>(kWidth * sent / total);
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(kWidth - filled), ' ').c_str(), static_cast<int>(100 * sent / total));
  return 0;
}

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

Exchange Perform(CURL* easy, const std::string& url, const std::vector<std::string>& headers) {
  Exchange exchange;
  HeaderList list(nullptr, curl_slist_free_all);
  for (const std::string& header : headers) list.reset(curl_slist_append(list.release(), header.c_str()));
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  if (const char* bundle = std::getenv("CURL_CA_BUNDLE")) curl_easy_setopt(easy, CURLOPT_CAINFO, bundle);
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
  const CURLcode code = curl_easy_perform(easy);
  exchange.connected = code == CURLE_OK;
  exchange.error = error[0] ? error : curl_easy_strerror(code);
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &exchange.status);
  return exchange;
}

}  // namespace

Exchange HttpGet(const std::string& url, const std::vector<std::string>& headers) {
  Easy easy(curl_easy_init(), curl_easy_cleanup);
  return Perform(easy.get(), url, headers);
}

Exchange HttpPostForm(const std::string& url, const std::string& form, const std::vector<std::string>& headers) {
  Easy easy(curl_easy_init(), curl_easy_cleanup);
  curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, form.c_str());
  return Perform(easy.get(), url, headers);
}

Exchange HttpPostFile(const std::string& url, const std::string& path, const std::vector<std::string>& headers) {
  std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  const long size = file && std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
  if (size < 0) {
    Exchange unread;
    unread.error = "cannot read " + path;
    return unread;
  }
  std::rewind(file.get());
  Easy easy(curl_easy_init(), curl_easy_cleanup);
  curl_easy_setopt(easy.get(), CURLOPT_POST, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_READDATA, file.get());
  curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
  std::vector<std::string> all = headers;
  all.push_back("Content-Type: application/octet-stream");
  // A server that refuses the document says so before any byte of it is sent.
  all.push_back("Expect: 100-continue");
  const bool terminal = isatty(STDERR_FILENO);
  if (terminal) {
    curl_easy_setopt(easy.get(), CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(easy.get(), CURLOPT_NOPROGRESS, 0L);
  }
  Exchange exchange = Perform(easy.get(), url, all);
  if (terminal) std::fputs("\n", stderr);
  return exchange;
}

std::string QueryEscape(const std::string& text) {
  std::unique_ptr<char, decltype(&curl_free)> escaped(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())),
                                                     curl_free);
  return escaped ? escaped.get() : "";
}
