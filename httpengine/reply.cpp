// Writing to the client: raw and formatted output, error replies, the Digest challenge.
#include "httpengine/engine-private.h"

#include "platform/sockets.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace {

// Sends straight away, after what is gathered; false when a send failed.
bool send_now(mg_conn* conn, const char* bytes, size_t length) {
  mg_conn_state* state = conn->state;
  if (!flush_output(conn)) return false;
  if (SendAll(conn->client.sock, bytes, length) == length) return true;
  if (state != nullptr) state->output_failed = true;
  return false;
}

}  // namespace

bool flush_output(mg_conn* conn) {
  mg_conn_state* state = conn->state;
  if (state == nullptr) return true;
  if (state->output_failed) return false;
  const size_t length = state->output_length;
  state->output_length = 0;
  state->output_failed = SendAll(conn->client.sock, state->output, length) != length;
  return !state->output_failed;
}

// A reply's lines are gathered until its head is complete, so that it goes out in one
// send; what does not fit goes straight out.
int mg_send(mg_conn* conn, const void* bytes, int length) {
  mg_conn_state* state = conn->state;
  const auto* text = static_cast<const char*>(bytes);
  const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  if (state != nullptr && state->output_failed) return 0;
  bool sent;
  if (state == nullptr || state->output_length + size > sizeof state->output) {
    sent = send_now(conn, text, size);
  } else {
    // The head ends with its empty line, which may straddle two calls.
    const size_t from = state->output_length > 3 ? state->output_length - 3 : 0;
    memcpy(state->output + state->output_length, text, size);
    state->output_length += size;
    const std::string_view gathered(state->output + from, state->output_length - from);
    sent = gathered.find("\r\n\r\n") == std::string_view::npos || flush_output(conn);
  }
  if (!sent) return 0;
  conn->num_bytes_sent += size;
  return static_cast<int>(size);
}

int mg_send_formatted(mg_conn* conn, const char* format, ...) {
  char buffer[kFormatBufferSize];
  va_list arguments;
  va_start(arguments, format);
  const int length = vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  if (length < 0) {
    log_error(conn->ctx, conn, "vsnprintf error");
    return 0;
  }
  if (static_cast<size_t>(length) >= sizeof buffer) {
    log_error(conn->ctx, conn, "truncating vsnprintf buffer: [%.*s]", 200, buffer);
    return mg_send(conn, buffer, static_cast<int>(sizeof buffer) - 1);
  }
  return mg_send(conn, buffer, length);
}

void send_error_reply(mg_conn* conn, int status, const char* reason, const char* format, ...) {
  conn->request.status_code = status;
  char body[kErrorBodySize];
  int length = 0;
  if (status > 199 && status != 204 && status != 304) {
    length = std::min(snprintf(body, sizeof body, "Error %d: %s", status, reason), static_cast<int>(sizeof body) - 2);
    log_error(conn->ctx, conn, "%s", body);
    body[length++] = '\n';
    va_list arguments;
    va_start(arguments, format);
    const int detail = vsnprintf(body + length, sizeof body - static_cast<size_t>(length), format, arguments);
    va_end(arguments);
    length = std::min(length + std::max(detail, 0), static_cast<int>(sizeof body) - 1);
  }
  body[length] = '\0';
  mg_send_formatted(conn,
                    "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s",
                    status, reason, length, body);
}

void send_authorization_request(mg_conn* conn) {
  conn->request.status_code = 401;
  const std::string realm = get_option(conn->ctx, kOptionAuthRealm);
  mg_send_formatted(conn, "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest qop=\"auth\", realm=\"%s\", nonce=\"%lu\"\r\n\r\n",
                    realm.c_str(), static_cast<unsigned long>(time(nullptr)));
}
