// The URI handler table, header lookup and streaming request bodies to the handlers.
#include "httpengine/engine-private.h"
#include "platform/sockets.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// The length as strtoul reads it into a 32-bit unsigned long.
uint32_t parse_content_length(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  uint64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + static_cast<uint64_t>(*text - '0');
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return negative ? static_cast<uint32_t>(0 - value) : static_cast<uint32_t>(value);
}

// Marks the body being read, for the listener's look at slow bodies.
void set_reading_body(mg_conn* conn, bool reading) {
  std::lock_guard lock(conn->ctx->thread_lock);
  conn->state->reading_body = reading;
  conn->state->body_start = std::chrono::steady_clock::now();
  conn->state->body_bytes = 0;
}

// Hands body bytes to the data handler in pieces of at most 512 bytes; 0 when it
// refused one.
int hand_to_data_handler(mg_conn* conn, const mg_handler_entry& entry, const char* bytes, int count) {
  for (int offset = 0; offset < count && entry.data != nullptr; offset += static_cast<int>(kChunkSize)) {
    const int piece = std::min(count - offset, static_cast<int>(kChunkSize));
    if (entry.data(conn, &conn->request, bytes + offset, piece, entry.user_data) == 0) return 0;
  }
  return 1;
}

// The buffer for body bytes read from the socket, made for the connection's first body.
char* body_block(mg_conn* conn) {
  mg_conn_state* state = conn->state;
  if (!state->body) state->body = std::make_unique_for_overwrite<char[]>(kBodyReadSize);
  return state->body.get();
}

enum class body_outcome { taken, refused, broken_off, malformed };

// Reads the rest of the body in large blocks and hands it to the data handler, counting
// down `remainder`.
body_outcome read_body(mg_conn* conn, const mg_handler_entry& entry, uint32_t& remainder) {
  mg_conn_state* state = conn->state;
  char* block = body_block(conn);
  set_reading_body(conn, true);
  body_outcome outcome = body_outcome::taken;
  while (remainder > 0) {
    const size_t wanted = std::min<size_t>(remainder, kBodyReadSize);
    const auto deadline = std::chrono::steady_clock::now() + conn->ctx->body_idle_limit;
    const int count = read_socket(conn, block, wanted, deadline);
    if (count <= 0 || state->cut_off) {
      outcome = body_outcome::broken_off;
      break;
    }
    state->body_bytes += static_cast<uint64_t>(count);
    remainder -= static_cast<uint32_t>(count);
    if (hand_to_data_handler(conn, entry, block, count) == 0) {
      outcome = body_outcome::refused;
      break;
    }
  }
  set_reading_body(conn, false);
  return outcome;
}

// Reads a chunked body, the bytes that came with the head first, and hands its data to the
// data handler; a body without data is one call with length 0, as an empty body with a
// length. What was read beyond the body stays in the connection's unread bytes.
body_outcome read_chunked_body(mg_conn* conn, const mg_handler_entry& entry) {
  mg_conn_state* state = conn->state;
  mg_chunked_body decoder;
  std::string_view input(conn->request.body_prefix, static_cast<size_t>(conn->request.body_prefix_length));
  bool data_given = false;
  set_reading_body(conn, true);
  body_outcome outcome = body_outcome::taken;
  for (bool reading = true; reading;) {
    std::string_view data;
    switch (decoder.Decode(input, data)) {
      case mg_chunked_body::result::data:
        data_given = true;
        if (hand_to_data_handler(conn, entry, data.data(), static_cast<int>(data.size())) == 0) {
          outcome = body_outcome::refused;
          reading = false;
        }
        break;
      case mg_chunked_body::result::more: {
        char* block = body_block(conn);
        const auto deadline = std::chrono::steady_clock::now() + conn->ctx->body_idle_limit;
        const int count = read_socket(conn, block, decoder.ReadSize(kBodyReadSize), deadline);
        if (count <= 0 || state->cut_off) {
          outcome = body_outcome::broken_off;
          reading = false;
          break;
        }
        state->body_bytes += static_cast<uint64_t>(count);
        input = std::string_view(block, static_cast<size_t>(count));
        break;
      }
      case mg_chunked_body::result::done:
        state->unread = input;
        if (!data_given && entry.data != nullptr && entry.data(conn, &conn->request, input.data(), 0, entry.user_data) == 0) {
          outcome = body_outcome::refused;
        }
        reading = false;
        break;
      case mg_chunked_body::result::malformed:
        outcome = body_outcome::malformed;
        reading = false;
        break;
    }
  }
  set_reading_body(conn, false);
  return outcome;
}

// Reads and drops the `unread` bytes left of a refused body, within the discard limits;
// a slow sender is cut off as in any body. The reply is complete: the client that reads
// while it sends sees the end of it at once.
void discard_body(mg_conn* conn, uint32_t unread) {
  if (unread == 0) return;
  EndSending(conn->client.sock);
  mg_conn_state* state = conn->state;
  char* block = body_block(conn);
  set_reading_body(conn, true);
  const auto end = std::chrono::steady_clock::now() + kDiscardLimit;
  while (unread > 0 && !state->cut_off) {
    const auto deadline = std::min(end, std::chrono::steady_clock::now() + kDiscardIdleLimit);
    const int count = read_socket(conn, block, std::min<size_t>(unread, kBodyReadSize), deadline);
    if (count <= 0) break;
    state->body_bytes += static_cast<uint64_t>(count);
    unread -= static_cast<uint32_t>(count);
  }
  set_reading_body(conn, false);
}

// Streams the body to the handlers; 1 when all of it arrived and was accepted. Answers
// the client itself on failure, unless a handler has answered already.
int stream_request_body(mg_conn* conn, const mg_handler_entry& entry) {
  mg_request& request = conn->request;
  const char* length_text = mg_find_header(conn, "Content-Length");
  const char* expect = mg_find_header(conn, "Expect");
  // Persistent entries take chunked bodies; a chunked body's length is unknown: what is
  // left of a refused one is read away until the client stops.
  const char* coding = entry.persistent ? mg_find_header(conn, "Transfer-Encoding") : nullptr;
  const bool chunked = coding != nullptr && equal_ignoring_case(coding, "chunked");
  if (coding != nullptr && !chunked) {
    send_error_reply(conn, 501, "Not Implemented", "Transfer-Encoding %s", coding);
    return 0;
  }
  if (length_text == nullptr && !chunked) {
    send_error_reply(conn, 411, "Length Required", "%s", "");
    return 0;
  }
  if (expect != nullptr && !equal_ignoring_case(expect, "100-continue")) {
    send_error_reply(conn, 417, "Expectation Failed", "%s", "");
    return 0;
  }
  if (expect != nullptr) {
    constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    send_output(conn, kContinue.data(), kContinue.size());
  }
  const uint32_t content_length = chunked ? UINT32_MAX : parse_content_length(length_text);
  const int prefix_length = request.body_prefix_length;
  uint32_t unread = content_length > static_cast<uint32_t>(prefix_length) ? content_length - prefix_length : 0;
  if (entry.begin != nullptr && entry.begin(conn, &request, entry.user_data) == 0) {
    flush_output(conn);
    discard_body(conn, unread);
    return 0;
  }
  flush_output(conn);
  const uint64_t sent_before_body = conn->num_bytes_sent;

  body_outcome outcome;
  bool answer = true;
  if (chunked) {
    outcome = read_chunked_body(conn, entry);
  } else if (static_cast<uint32_t>(prefix_length) >= content_length) {
    request.body_prefix_length = static_cast<int>(content_length);  // surplus bytes are no body
    conn->state->unread.remove_prefix(content_length);
    // An empty body too is one call of the data handler.
    const int taken = content_length == 0 && entry.data != nullptr
                          ? entry.data(conn, &request, request.body_prefix, 0, entry.user_data)
                          : hand_to_data_handler(conn, entry, request.body_prefix, request.body_prefix_length);
    outcome = taken == 1 ? body_outcome::taken : body_outcome::refused;
  } else if (hand_to_data_handler(conn, entry, request.body_prefix, prefix_length) == 0) {
    outcome = body_outcome::refused;
    answer = false;
  } else {
    conn->state->unread = {};
    outcome = read_body(conn, entry, unread);
  }
  if (outcome == body_outcome::taken) return 1;
  // One connection, one reply: a handler that stopped the body may have answered.
  if (answer && conn->num_bytes_sent == sent_before_body) {
    if (outcome == body_outcome::malformed) {
      send_error_reply(conn, 400, "Bad Request", "%s", "Malformed chunked body");
    } else if (outcome == body_outcome::broken_off && entry.persistent) {
      // The clients of persistent entries read the reply of a body that stopped coming.
      send_error_reply(conn, 408, "Request Timeout", "%s", "The request body stopped coming");
    } else {
      send_error_reply(conn, 577, "Internal Server Error", "%s", "Error handling body data");
    }
  }
  flush_output(conn);
  if (entry.abort != nullptr) entry.abort(conn, &request, entry.abort_data);
  if (outcome == body_outcome::refused) discard_body(conn, unread);
  return 0;
}

}  // namespace

// The next request may follow on the connection: HTTP/1.1 without "Connection: close",
// and a body read to its end by its one framing. A body the engine did not read, or one
// sent with both a length and chunks, leaves the next request's start unknown.
bool request_keeps_connection(const mg_conn* conn, bool body_read) {
  const char* connection = mg_find_header(conn, "Connection");
  const char* length = mg_find_header(conn, "Content-Length");
  const char* coding = mg_find_header(conn, "Transfer-Encoding");
  if (conn->request.http_version_minor != 1 || (connection != nullptr && has_token(connection, "close"))) return false;
  if (body_read) return coding == nullptr || length == nullptr;
  return coding == nullptr && (length == nullptr || parse_content_length(length) == 0);
}

// Changes the entry whose pattern is exactly this text; 1 when there is one, else 0.
template <typename Change>
int change_entry(mg_ctx* ctx, const char* pattern, Change change) {
  std::lock_guard lock(ctx->handlers_lock);
  for (mg_handler_entry& entry : ctx->handlers) {
    if (entry.pattern != pattern) continue;
    change(entry);
    return 1;
  }
  return 0;
}

void mg_set_uri_handlers(mg_ctx* ctx, const char* pattern, mg_begin_handler begin, mg_data_handler data,
                         mg_end_handler end, void* user_data) {
  {
    std::lock_guard lock(ctx->handlers_lock);
    if (ctx->handlers.size() < kMaxHandlerEntries) {
      ctx->handlers.push_back({pattern, end, begin, data, false, -1, user_data, nullptr, nullptr});
      return;
    }
  }
  log_error(ctx, nullptr, "Too many callbacks! Increase MAX_CALLBACKS.");
}

int mg_set_abort_handler(mg_ctx* ctx, const char* pattern, mg_abort_handler abort, void* user_data) {
  return change_entry(ctx, pattern, [=](mg_handler_entry& entry) {
    entry.abort = abort;
    entry.abort_data = user_data;
  });
}

int mg_set_uri_persistent(mg_ctx* ctx, const char* pattern, int on) {
  return change_entry(ctx, pattern, [on](mg_handler_entry& entry) { entry.persistent = on != 0; });
}

bool match_pattern(std::string_view pattern, std::string_view uri) {
  // Greedy matching that backtracks only to the last '*': linear in practice, never exponential.
  size_t p = 0, u = 0, star = std::string_view::npos, resume = 0;
  while (u < uri.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = u;
    } else if (p < pattern.size() && pattern[p] == uri[u]) {
      ++p;
      ++u;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      u = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool find_uri_handler(mg_ctx* ctx, const char* uri, mg_handler_entry& entry) {
  std::lock_guard lock(ctx->handlers_lock);
  for (const mg_handler_entry& candidate : ctx->handlers) {
    if (!candidate.is_auth && match_pattern(candidate.pattern, uri)) {
      entry = candidate;
      return true;
    }
  }
  return false;
}

void call_uri_handler(mg_conn* conn, const mg_handler_entry& entry) {
  mg_conn_state* state = conn->state;
  // The reply of a persistent entry is watched, to know whether the connection can stay open.
  mg_reply_watch& reply = state->reply;
  reply.on = entry.persistent;
  reply.head_complete = reply.too_long = reply.last_chunk_sent = false;
  reply.head_length = 0;
  reply.body_bytes = 0;
  // A kept connection's reply leaves in more than one write (head, then body); without
  // this the body would wait for the client's delayed acknowledgement of the head.
  if (entry.persistent && state->first_request) SendWithoutDelay(conn->client.sock);
  const std::string_view method = conn->request.method;
  const bool has_body = method == "POST" || method == "PUT";
  if (has_body && stream_request_body(conn, entry) != 1) return;
  if (entry.end != nullptr) entry.end(conn, &conn->request, entry.user_data);
  flush_output(conn);
  state->keep_open = entry.persistent && request_keeps_connection(conn, has_body) && reply_is_framed(conn);
}

const char* mg_find_header(const mg_conn* conn, const char* name) {
  const mg_request& request = conn->request;
  for (int i = 0; i < request.num_headers; ++i) {
    if (equal_ignoring_case(request.http_headers[i].name, name)) return request.http_headers[i].value;
  }
  return nullptr;
}
