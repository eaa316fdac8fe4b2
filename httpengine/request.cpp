// Reading and parsing requests, and closing the connection.
#include "httpengine/engine-private.h"

#include "platform/sockets.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct token {
  size_t begin;
  size_t end;
};

// Takes the text before the first of delimiters and skips the run of delimiters after it.
token take_token(const char* bytes, size_t& position, size_t end, std::string_view delimiters) {
  const std::string_view text(bytes, end);
  const size_t begin = position;
  size_t stop = text.find_first_of(delimiters, begin);
  if (stop == std::string_view::npos) stop = end;
  position = std::min(text.find_first_not_of(delimiters, stop), end);
  return {begin, stop};
}

// Reads "HTTP/<major>.<minor>" and nothing more.
bool parse_version(std::string_view text, int& major, int& minor) {
  constexpr std::string_view kPrefix = "HTTP/";
  if (text.substr(0, kPrefix.size()) != kPrefix) return false;
  text.remove_prefix(kPrefix.size());
  const auto take_number = [&text](int& number) {
    size_t digits = 0;
    number = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
      number = std::min(number * 10 + (text[digits] - '0'), 100000);  // large is as weird as huge
    }
    text.remove_prefix(digits);
    return digits > 0;
  };
  if (!take_number(major) || text.empty() || text[0] != '.') return false;
  text.remove_prefix(1);
  return take_number(minor) && text.empty();
}

bool is_known_method(std::string_view method) {
  for (std::string_view known : {"GET", "POST", "HEAD", "PUT", "DELETE"}) {
    if (method == known) return true;
  }
  return false;
}

// Splits the header lines, terminating names and values in place.
void parse_headers(mg_request& request, char* bytes, size_t position, size_t end) {
  while (request.num_headers < kMaxRequestHeaders) {
    const token name = take_token(bytes, position, end, ": ");
    if (name.begin == name.end) return;
    const token value = take_token(bytes, position, end, "\r\n");
    bytes[name.end] = '\0';
    bytes[value.end] = '\0';
    request.http_headers[request.num_headers++] = {bytes + name.begin, bytes + value.begin};
  }
}

// Looks for the end of the head in what was received: 1 complete, 0 not yet, -1 invalid
// or the buffer full without it.
int find_head(mg_pending& pending) {
  const char* head = pending.head.get();
  pending.head_length = head_length(head, pending.received);
  if (pending.head_length < 0) return -1;
  if (pending.head_length == 0) return pending.received < kHeadBufferSize ? 0 : -1;
  const std::string_view text(head, pending.received);
  pending.wants_body = text.starts_with("POST ") || text.starts_with("PUT ");
  return 1;
}

}  // namespace

int head_length(const char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 128 && (c < 32 || c == 127) && c != '\r' && c != '\n') return -1;
    if (c != '\n') continue;
    if (i + 1 < length && bytes[i + 1] == '\n') return static_cast<int>(i + 2);
    if (i + 2 < length && bytes[i + 1] == '\r' && bytes[i + 2] == '\n') return static_cast<int>(i + 3);
  }
  return 0;
}

int receive_head(mg_pending& pending) {
  if (!pending.head) pending.head = std::make_unique_for_overwrite<char[]>(kHeadBufferSize);
  char* head = pending.head.get();
  while (pending.received < kHeadBufferSize) {
    const size_t space = kHeadBufferSize - pending.received;
    const int count = ReceiveArrived(pending.socket.sock, head + pending.received, space);
    pending.drained = count == kNothingArrived || (count >= 0 && static_cast<size_t>(count) < space);
    if (count == kNothingArrived) return 0;
    if (count <= 0) return -1;
    pending.received += static_cast<size_t>(count);
    const int found = find_head(pending);
    if (found != 0) return found;
  }
  return -1;
}

int continue_head(mg_ctx* ctx, mg_pending& pending) {
  const int head = receive_head(pending);
  const auto now = std::chrono::steady_clock::now();
  if (head >= 0 && pending.idle && pending.received > 0) {
    pending.idle = false;
    pending.head_due = now + ctx->head_deadline;
  }
  if (head == 1 && pending.kept) pending.head_due = now + kAddressWait;
  return head;
}

int take_unread_head(mg_worker_conn* worker) {
  mg_pending& pending = worker->pending;
  const std::string_view unread = worker->state.unread;
  if (!unread.empty()) memmove(pending.head.get(), unread.data(), unread.size());
  worker->state.unread = {};
  pending.received = unread.size();
  return find_head(pending);
}

int receive_next_head(mg_worker_conn* worker, int wait_ms) {
  mg_pending& pending = worker->pending;
  if (wait_ms == 0) return receive_head(pending);
  const int count = ReceiveWithin(pending.socket.sock, pending.head.get() + pending.received,
                                  kHeadBufferSize - pending.received, wait_ms, pending.receive_wait_set);
  if (count == kNothingArrived) return 0;
  if (count <= 0) return -1;
  pending.received += static_cast<size_t>(count);
  const int head = find_head(pending);
  return head != 0 ? head : receive_head(pending);
}

int read_socket(mg_conn* conn, char* bytes, size_t length, std::chrono::steady_clock::time_point deadline) {
  return ReceiveBefore(conn->client.sock, bytes, length, deadline);
}

void serve_connection(mg_worker_conn* worker) {
  mg_conn* conn = &worker->conn;
  char* bytes = worker->pending.head.get();
  const size_t received = worker->pending.received;
  const int head = worker->pending.head_length;
  conn->request = mg_request{};
  worker->state.output_length = 0;
  worker->state.output_failed = false;
  worker->state.nothing_unread = false;
  worker->state.keep_open = false;
  worker->state.reply.on = false;
  worker->state.unread = {};
  if (head <= 0) return;

  // The request line is checked before anything is written into the buffer, so that a
  // 400 reply can quote the bytes as they came.
  const size_t end = static_cast<size_t>(head) - 1;
  size_t position = 0;
  const token method = take_token(bytes, position, end, " ");
  const token uri = take_token(bytes, position, end, " ");
  const token version = take_token(bytes, position, end, "\r\n");
  const auto text = [bytes](token t) { return std::string_view(bytes + t.begin, t.end - t.begin); };
  mg_request& request = conn->request;
  if (!is_known_method(text(method)) || !text(uri).starts_with('/') ||
      !parse_version(text(version), request.http_version_major, request.http_version_minor)) {
    send_error_reply(conn, 400, "Bad Request", "Can not parse request: [%.*s]", static_cast<int>(received), bytes);
    return;
  }
  bytes[end] = '\0';
  bytes[method.end] = '\0';
  bytes[uri.end] = '\0';
  bytes[version.end] = '\0';
  request.method = bytes + method.begin;
  request.uri = bytes + uri.begin;
  parse_headers(request, bytes, position, end);
  request.remote_ip = conn->client.remote.ip;
  request.remote_port = conn->client.remote.port;

  if (request.http_version_major != 1 || request.http_version_minor > 1) {
    send_error_reply(conn, 505, "HTTP version not supported", "%s", "Weird HTTP version");
  } else {
    request.body_prefix = bytes + head;
    request.body_prefix_length = static_cast<int>(received) - head;
    worker->state.unread = std::string_view(request.body_prefix, static_cast<size_t>(request.body_prefix_length));
    worker->state.nothing_unread = request.body_prefix_length == 0 && !worker->pending.wants_body &&
                                   mg_find_header(conn, "Content-Length") == nullptr &&
                                   mg_find_header(conn, "Transfer-Encoding") == nullptr;
    conn->birth_time = time(nullptr);
    route_request(conn, bytes + uri.begin);
  }
  log_access(conn);
}

void finish_connection(mg_conn* conn) {
  flush_output(conn);
  conn->request.remote_user.clear();
  // Closing a socket with bytes unread resets the connection, which may take the reply
  // with it: those are read away first. When nothing can be unread, the close is enough.
  if (conn->state->nothing_unread) {
    CloseSocket(conn->client.sock);
  } else {
    FinishConnection(conn->client.sock);
  }
}
