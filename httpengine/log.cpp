// The error log (through the log hook) and the access log.
#include "httpengine/engine-private.h"

#include <cstdarg>
#include <ctime>

namespace {

// The URI as the logs show it: control bytes, which a client can send as "%0A" and the
// like, are written as %XX, so that no request can break a log line or forge another.
std::string printable_uri(const char* uri) {
  std::string text;
  for (const char* c = uri; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte >= 32 && byte != 127) {
      text += *c;
      continue;
    }
    char code[4];
    snprintf(code, sizeof code, "%%%02X", byte);
    text += code;
  }
  return text;
}

// The default hook: one error-log line per message, built whole and written in one call,
// so that the unbuffered standard error stream costs one write a line, not three.
void write_error_line(mg_ctx* ctx, const mg_conn* conn, const mg_request* request, const char* message) {
  char prefix[64];
  snprintf(prefix, sizeof prefix, "[%010lu] [error] [client %s] ", static_cast<unsigned long>(time(nullptr)),
           dotted_address(conn != nullptr ? conn->client.remote.ip : 0).c_str());
  std::string line = prefix;
  if (request != nullptr && request->method != nullptr) {
    line.append(request->method).append(" ").append(printable_uri(request->uri)).append(": ");
  }
  line.append(message).append("\n");
  std::lock_guard lock(ctx->log_lock);
  FILE* stream = ctx->error_log ? ctx->error_log.get() : stderr;
  fwrite(line.data(), 1, line.size(), stream);
  fflush(stream);
}

}  // namespace

std::string dotted_address(uint32_t ip) {
  char text[16];
  snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255, ip & 255);
  return text;
}

void log_error(mg_ctx* ctx, const mg_conn* conn, const char* format, ...) {
  char message[kLogMessageSize];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  mg_log_hook hook = ctx->log_hook.load();
  (hook != nullptr ? hook : write_error_line)(ctx, conn, conn != nullptr ? &conn->request : nullptr, message);
}

void mg_set_log_hook(mg_ctx* ctx, mg_log_hook hook) { ctx->log_hook.store(hook); }

bool open_log_stream(mg_ctx* ctx, mg_option_slot slot, const std::string& path) {
  mg_file stream(path.empty() ? nullptr : fopen(path.c_str(), "a"));
  const bool opened = path.empty() || stream != nullptr;
  std::lock_guard lock(ctx->log_lock);
  (slot == kOptionErrorLog ? ctx->error_log : ctx->access_log) = std::move(stream);
  return opened;
}

// One line in the common log format per served request.
void log_access(const mg_conn* conn) {
  const mg_request& request = conn->request;
  if (request.method == nullptr) return;
  {
    std::lock_guard lock(conn->ctx->log_lock);
    if (!conn->ctx->access_log) return;
  }
  char date[64];
  tm local{};
  const time_t birth = conn->birth_time;
  localtime_r(&birth, &local);
  strftime(date, sizeof date, "%d/%b/%Y:%H:%M:%S %z", &local);
  const std::string client = dotted_address(conn->client.remote.ip);
  const std::string uri = printable_uri(request.uri);
  std::lock_guard lock(conn->ctx->log_lock);
  if (!conn->ctx->access_log) return;
  fprintf(conn->ctx->access_log.get(), "%s - %s [%s] \"%s %s HTTP/%d.%d\" %d %llu\n", client.c_str(),
          request.remote_user.empty() ? "-" : request.remote_user.c_str(), date, request.method, uri.c_str(),
          request.http_version_major, request.http_version_minor, request.status_code,
          static_cast<unsigned long long>(conn->num_bytes_sent));
  fflush(conn->ctx->access_log.get());
}
