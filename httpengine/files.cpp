// Built-in document serving: files, index files, the landing reply and the refusals.
#include "httpengine/engine-private.h"

#include <cinttypes>
#include <utility>

#include "platform/filebeneath.h"

namespace {

constexpr const char* kLandingText = "This is Olvaro Desktop for printing using iPhone/iPad.";

constexpr std::pair<const char*, const char*> kMimeTypes[] = {
    {".html", "text/html"},        {".htm", "text/html"},        {".txt", "text/plain"},
    {".css", "text/css"},          {".js", "application/javascript"}, {".json", "application/json"},
    {".xml", "text/xml"},          {".png", "image/png"},        {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},       {".gif", "image/gif"},        {".ico", "image/x-icon"},
    {".svg", "image/svg+xml"},     {".bmp", "image/bmp"},        {".pdf", "application/pdf"},
    {".zip", "application/zip"},   {".gz", "application/x-gzip"}, {".mp3", "audio/mpeg"},
    {".mp4", "video/mp4"},         {".wav", "audio/x-wav"},      {".doc", "application/msword"},
};

bool ends_with_ignoring_case(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && equal_ignoring_case(text.substr(text.size() - tail.size()), tail);
}

// True when path ends in one of the comma-separated extensions of the option.
bool has_extension_of(mg_ctx* ctx, mg_option_slot slot, const std::string& path) {
  return !for_each_list_item(get_option(ctx, slot), [&](std::string_view extension) {
    return extension.empty() || !ends_with_ignoring_case(path, extension);
  });
}

std::string mime_type_of(mg_ctx* ctx, const std::string& path) {
  std::string type;
  for_each_list_item(get_option(ctx, kOptionMimeTypes), [&](std::string_view item) {
    std::string_view extension, configured;
    if (!split_pair(item, extension, configured) || !ends_with_ignoring_case(path, extension)) return true;
    type = configured;
    return false;
  });
  if (!type.empty()) return type;
  for (const auto& [extension, builtin] : kMimeTypes) {
    if (ends_with_ignoring_case(path, extension)) return builtin;
  }
  return "text/plain";
}

// Sends the file, or the part a "Range: bytes=first-last" header asks for.
void send_file(mg_conn* conn, FileBeneath found, const std::string& path) {
  mg_file file(found.file.release());
  const uint64_t size = found.size;
  uint64_t first = 0, last = size == 0 ? 0 : size - 1;
  std::string range_header;
  const char* range = mg_find_header(conn, "Range");
  uint64_t from = 0, to = 0;
  const int numbers = range == nullptr ? 0 : sscanf(range, "bytes=%" SCNu64 "-%" SCNu64, &from, &to);
  if (numbers >= 1 && from < size && (numbers == 1 || to >= from)) {
    first = from;
    last = numbers == 2 && to < size ? to : size - 1;
    char text[128];
    snprintf(text, sizeof text, "Content-Range: bytes %" PRIu64 "-%" PRIu64 "/%" PRIu64 "\r\n", first, last, size);
    range_header = text;
  }
  const uint64_t length = size == 0 ? 0 : last - first + 1;
  const bool partial = !range_header.empty();
  conn->request.status_code = partial ? 206 : 200;

  mg_send_formatted(conn,
                    "HTTP/1.1 %d %s\r\nDate: %s\r\nLast-Modified: %s\r\nEtag: \"%lx.%" PRIx64 "\"\r\n"
                    "Content-Type: %s\r\nContent-Length: %" PRIu64 "\r\nConnection: close\r\nAccept-Ranges: bytes\r\n%s\r\n",
                    conn->request.status_code, partial ? "Partial Content" : "OK", format_http_date(time(nullptr)).c_str(),
                    format_http_date(found.modified).c_str(), static_cast<unsigned long>(found.modified), size,
                    mime_type_of(conn->ctx, path).c_str(), length, range_header.c_str());
  if (std::string_view(conn->request.method) == "HEAD") return;

  if (fseeko(file.get(), static_cast<off_t>(first), SEEK_SET) != 0) return;
  char buffer[kFormatBufferSize];
  for (uint64_t left = length; left > 0;) {
    const size_t count = fread(buffer, 1, std::min<uint64_t>(left, sizeof buffer), file.get());
    if (count == 0 || mg_send(conn, buffer, static_cast<int>(count)) != static_cast<int>(count)) return;
    left -= count;
  }
}

// A file: refused when it would be a CGI program or a page with server-side includes
// (running those for anybody on the network is not worth the risk), 304 when the client
// has a copy newer than the file, else the file.
void serve_file(mg_conn* conn, FileBeneath found, const std::string& path) {
  if (has_extension_of(conn->ctx, kOptionCgiExt, path) || has_extension_of(conn->ctx, kOptionSsiExt, path)) {
    send_error_reply(conn, 403, "Forbidden", "%s", "Access Forbidden");
    return;
  }
  const char* since = mg_find_header(conn, "If-Modified-Since");
  time_t client_copy;
  if (since != nullptr && parse_http_date(since, client_copy) && client_copy > found.modified) {
    send_error_reply(conn, 304, "Not Modified", "%s", "");
    return;
  }
  send_file(conn, std::move(found), path);
}

// A folder: its first index file, else the listing or the landing reply.
void serve_folder(mg_conn* conn, const mg_root& base, const std::string& rest) {
  const std::string folder = base.folder.Path() + rest;
  std::string index_path;
  FileBeneath index;
  for_each_list_item(get_option(conn->ctx, kOptionIndexFiles), [&](std::string_view name) {
    if (name.empty() || name == "..") return true;
    if (!OpenBeneath(base.folder, rest + "/" + std::string(name), index) || index.isFolder) return true;
    index_path = folder + (folder.ends_with('/') ? "" : "/") + std::string(name);
    return false;
  });
  if (!index_path.empty()) {
    serve_file(conn, std::move(index), index_path);
  } else if (option_is_true(get_option(conn->ctx, kOptionDirList))) {
    send_directory_listing(conn, folder);
  } else {
    send_error_reply(conn, 200, "OK", "%s", kLandingText);
  }
}

}  // namespace

void serve_document(mg_conn* conn, const mg_root& base, const std::string& rest, bool opened, FileBeneath found) {
  const std::string_view method = conn->request.method;
  const std::string path = base.folder.Path() + rest;
  if (path.find(".htpasswd") != std::string::npos) {
    send_error_reply(conn, 403, "Forbidden", "%s", "Access Forbidden");
    return;
  }
  if (method == "PUT" || method == "DELETE") {
    // Writing and deleting files is not built: even with valid "auth_PUT" credentials
    // the client only learns that.
    const std::string put_file = get_option(conn->ctx, kOptionAuthPut);
    if (put_file.empty() || !credentials_valid(conn, put_file)) {
      send_authorization_request(conn);
    } else {
      send_error_reply(conn, 501, "Not Implemented", "Method %s is not implemented", conn->request.method);
    }
    return;
  }
  if (!opened && rest == "/") {
    // No usable root: no files, but the landing text stays.
    send_error_reply(conn, 200, "OK", "%s", kLandingText);
  } else if (!opened) {
    send_error_reply(conn, 404, "Not Found", "%s", "File not found");
  } else if (found.isFolder && !std::string_view(conn->request.uri).ends_with('/')) {
    conn->request.status_code = 301;
    mg_send_formatted(conn, "HTTP/1.1 301 Moved Permanently\r\nLocation: %s/\r\n\r\n", conn->request.uri);
  } else if (found.isFolder) {
    serve_folder(conn, base, rest);
  } else {
    serve_file(conn, std::move(found), path);
  }
}
