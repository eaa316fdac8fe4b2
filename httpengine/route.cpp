// URI decoding and normalisation, and routing a request to a handler or to the files.
#include "httpengine/engine-private.h"

#include <cstring>

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Runs of separators after the first character cut to one, each written '/'.
std::string clean_separators(std::string_view path) {
  std::string result;
  for (char c : path) {
    if (is_separator(c) && !result.empty() && result.back() == '/') continue;
    result += is_separator(c) ? '/' : c;
  }
  return result;
}

// The folder a URI is served from (the root, or the folder of an "aliases" prefix) and
// the URI's part below it.
void translate_path(mg_ctx* ctx, std::string_view uri, std::string& base, std::string& rest) {
  std::lock_guard root_lock(ctx->option_locks[kOptionRoot]);
  std::lock_guard aliases_lock(ctx->option_locks[kOptionAliases]);
  base = ctx->options[kOptionRoot];
  rest = uri;
  for_each_list_item(ctx->options[kOptionAliases], [&](std::string_view item) {
    std::string_view prefix, folder;
    if (!split_pair(item, prefix, folder) || !uri.starts_with(prefix)) return true;
    base = folder;
    rest = uri.substr(prefix.size());
    return false;
  });
}

}  // namespace

void decode_uri(char* uri) {
  char* out = uri;
  for (const char* in = uri; *in != '\0'; ++in) {
    const int high = in[0] == '%' ? hex_value(in[1]) : -1;
    const int low = high >= 0 ? hex_value(in[2]) : -1;
    if (low >= 0) {
      *out++ = static_cast<char>(high * 16 + low);
      in += 2;
    } else {
      *out++ = *in;
    }
  }
  *out = '\0';
}

// After each separator drop the separators and ".." pairs that follow it, so that no
// path can climb above the root.
void normalise_uri(char* uri) {
  char* out = uri;
  const char* in = uri;
  while (*in != '\0') {
    *out++ = *in++;
    if (!is_separator(in[-1])) continue;
    while (is_separator(*in)) ++in;
    while (in[0] == '.' && in[1] == '.') in += 2;
  }
  *out = '\0';
}

void route_request(mg_conn* conn, char* uri) {
  mg_request& request = conn->request;
  if (char* question = strchr(uri, '?'); question != nullptr) {
    *question = '\0';
    request.query_string = question + 1;
  }
  decode_uri(uri);
  normalise_uri(uri);

  std::string base, rest;
  translate_path(conn->ctx, uri, base, rest);
  const std::string path = clean_separators(base + rest);
  if (!check_authorization(conn, path)) {
    send_authorization_request(conn);
    return;
  }
  mg_handler_entry entry;
  if (find_uri_handler(conn->ctx, uri, entry)) {
    call_uri_handler(conn, entry);
  } else {
    serve_document(conn, clean_separators(base), clean_separators(rest));
  }
}
