// URI decoding and normalisation, and routing a request to a handler or to the files.
#include "httpengine/engine-private.h"

#include <cstring>
#include <memory>

namespace {

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

using Clock = std::chrono::steady_clock;

// Under the "root" lock: the kept root, opened again when "root" changed, and when the
// folder at its path was replaced or names in it changed (looked at once a second).
std::shared_ptr<const mg_root> kept_root(mg_ctx* ctx) {
  const std::string path = clean_separators(ctx->options[kOptionRoot]);
  const auto now = Clock::now();
  if (ctx->root && ctx->root->folder.Path() == path) {
    if (now < ctx->root_checked + kRootCheckInterval) return ctx->root;
    ctx->root_checked = now;
    if (ctx->root->folder.Unchanged()) return ctx->root;
  }
  ctx->root = std::make_shared<const mg_root>(path);
  ctx->root_checked = now;
  return ctx->root;
}

// The folder a URI is served from (the kept root, or the folder of an "aliases" prefix,
// opened for this request) and the URI's part below it.
std::shared_ptr<const mg_root> translate_path(mg_ctx* ctx, std::string_view uri, std::string& rest) {
  std::string alias;
  {
    std::lock_guard aliases_lock(ctx->option_locks[kOptionAliases]);
    for_each_list_item(ctx->options[kOptionAliases], [&](std::string_view item) {
      std::string_view prefix, folder;
      if (!split_pair(item, prefix, folder) || !uri.starts_with(prefix)) return true;
      alias = folder;
      rest = clean_separators(uri.substr(prefix.size()));
      return false;
    });
  }
  if (!alias.empty()) return std::make_shared<const mg_root>(clean_separators(alias));
  rest = clean_separators(uri);
  std::lock_guard root_lock(ctx->option_locks[kOptionRoot]);
  return kept_root(ctx);
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

  std::string rest;
  const std::shared_ptr<const mg_root> base = translate_path(conn->ctx, uri, rest);
  // What the path names is opened once, for the password file and for serving it.
  FileBeneath found;
  const bool opened = OpenBeneath(base->folder, rest, found);
  if (!check_authorization(conn, *base, rest, opened && found.isFolder)) {
    send_authorization_request(conn);
    return;
  }
  mg_handler_entry entry;
  if (find_uri_handler(conn->ctx, uri, entry)) {
    found = FileBeneath();
    call_uri_handler(conn, entry);
  } else {
    serve_document(conn, *base, rest, opened, std::move(found));
  }
}

mg_root::mg_root(std::string path) : folder(std::move(path)), holds_password_file(folder.Holds(".htpasswd")) {}
