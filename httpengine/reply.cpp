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

// The status of a reply head, 0 when its first line is no status line.
int reply_status(std::string_view head) {
  if (!head.starts_with("HTTP/1.") || head.size() < 13 || head[8] != ' ') return 0;
  int status = 0;
  for (char c : head.substr(9, 3)) {
    if (c < '0' || c > '9') return 0;
    status = status * 10 + (c - '0');
  }
  return status;
}

// Collects the reply head (dropping interim 1xx heads) and counts the body bytes after it.
// Returns where in `bytes` the empty line that ends the head begins, when it lies whole
// in them.
size_t watch_reply(mg_reply_watch& reply, std::string_view bytes) {
  size_t offset = 0, blank_line = std::string_view::npos;
  while (offset < bytes.size() && !reply.too_long) {
    if (reply.head_complete) {
      reply.body_bytes += bytes.size() - offset;
      break;
    }
    const size_t take = std::min(bytes.size() - offset, sizeof reply.head - reply.head_length);
    if (take == 0) {
      reply.too_long = true;
      break;
    }
    memcpy(reply.head + reply.head_length, bytes.data() + offset, take);
    const std::string_view head(reply.head, reply.head_length + take);
    const size_t end = head.find("\r\n\r\n", reply.head_length > 3 ? reply.head_length - 3 : 0);
    if (end == std::string_view::npos) {
      reply.head_length += take;
      offset += take;
      continue;
    }
    offset += end + 4 - reply.head_length;
    const bool blank_line_here = end + 2 >= reply.head_length;
    reply.head_length = end + 4;
    const int status = reply_status(head);
    if (status >= 100 && status < 200) {
      reply.head_length = 0;
    } else {
      reply.head_complete = true;
      if (blank_line_here) blank_line = offset - 2;
    }
  }
  return blank_line;
}

// The length a Content-Length value gives, when it is digits alone.
bool parse_exact_length(std::string_view text, uint64_t& length) {
  if (text.empty() || text.size() > 19) return false;
  length = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    length = length * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool reply_is_framed(const mg_conn* conn) {
  const mg_conn_state* state = conn->state;
  const mg_reply_watch& reply = state->reply;
  if (state->output_failed || !reply.head_complete) return false;
  std::string_view head(reply.head, reply.head_length);
  const int status = reply_status(head);
  bool has_length = false, chunked = false;
  uint64_t length = 0;
  head.remove_prefix(head.find("\r\n") + 2);
  while (!head.empty()) {
    const std::string_view line = head.substr(0, head.find("\r\n"));
    head.remove_prefix(line.size() + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    value = value.substr(0, value.find_last_not_of(" \t") + 1);
    if (equal_ignoring_case(name, "Connection") && has_token(value, "close")) return false;
    if (equal_ignoring_case(name, "Transfer-Encoding")) chunked = has_token(value, "chunked");
    if (equal_ignoring_case(name, "Content-Length") && !(has_length = parse_exact_length(value, length))) return false;
  }
  if (status == 0) return false;
  if (status == 204 || status == 304 || std::string_view(conn->request.method) == "HEAD") return reply.body_bytes == 0;
  if (chunked) return reply.body_bytes == 0 && reply.last_chunk_sent;
  return has_length && length == reply.body_bytes;
}

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
int send_output(mg_conn* conn, const char* text, size_t size) {
  mg_conn_state* state = conn->state;
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

int mg_send(mg_conn* conn, const void* bytes, int length) {
  mg_conn_state* state = conn->state;
  const auto* text = static_cast<const char*>(bytes);
  const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  if (state == nullptr || !state->reply.on) return send_output(conn, text, size);
  const size_t blank_line = watch_reply(state->reply, std::string_view(text, size));
  if (blank_line == std::string_view::npos || !state->last_request) return send_output(conn, text, size);
  // The last reply a connection takes says so, and the client opens a new one for more.
  constexpr std::string_view kClose = "Connection: close\r\n";
  send_output(conn, text, blank_line);
  send_output(conn, kClose.data(), kClose.size());
  send_output(conn, text + blank_line, size - blank_line);
  return state->output_failed ? 0 : length;
}

int mg_send_chunk(mg_conn* conn, const void* bytes, int length) {
  if (length <= 0) {
    if (conn->state != nullptr) conn->state->reply.last_chunk_sent = true;
    send_output(conn, "0\r\n\r\n", 5);
    return 0;
  }
  char size_line[24];
  const int line_length = snprintf(size_line, sizeof size_line, "%x\r\n", static_cast<unsigned>(length));
  const size_t size = static_cast<size_t>(length);
  if (send_output(conn, size_line, static_cast<size_t>(line_length)) == 0 ||
      static_cast<size_t>(send_output(conn, static_cast<const char*>(bytes), size)) != size || send_output(conn, "\r\n", 2) == 0) {
    return 0;
  }
  return length;
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
