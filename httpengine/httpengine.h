// The embedded HTTP/1.x engine: one listener thread, worker threads started on demand,
// one request served per connection, several for persistent entries (mg_set_uri_persistent).
//
// Threads: mg_start, mg_set_option, mg_set_uri_handlers, mg_set_abort_handler and
// mg_set_log_hook may be called from any thread while the engine runs; mg_stop once, from a thread that is not one of
// the engine's own. mg_find_header, mg_send and mg_send_formatted are for the worker that
// serves the connection, that is, inside the URI handlers.
//
// Clients: a worker that accepts a connection reads its head and hands it to the listener
// when the head is slow, so a client that is silent or slow with its head holds no worker. Requests with a body (POST, PUT) take at most 4 workers
// per client address and never the last tenth of the workers, which stay for requests
// without a body; while a body waits for a worker, bodies that have run 10 s at less than
// 1 KiB/s are cut off. These rules hold for each request of a kept connection; a kept
// connection idle between requests is the listener's, like a slow head, and is closed
// after 5 s without a next request or after 1000 requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

struct mg_ctx;
struct mg_conn_state;

// Request headers kept per request; later header lines are ignored.
constexpr int kMaxRequestHeaders = 64;

struct mg_header {
  const char* name;
  const char* value;
};

// The request as parsed; the texts point into the worker's head buffer and live as long
// as the request.
struct mg_request {
  const char* method;             // "GET", "POST", "HEAD", "PUT" or "DELETE"
  const char* uri;                // after routing: decoded, normalised, no query string
  const char* query_string;       // text after the first '?', or nullptr
  const char* body_prefix;        // body bytes that arrived with the head
  std::string remote_user;        // set by Digest authentication, else empty
  uint32_t remote_ip;             // IPv4 address, host byte order
  int remote_port;
  int body_prefix_length;
  int http_version_major;
  int http_version_minor;
  int status_code;                // last status the engine itself sent, 0 if none
  int num_headers;
  mg_header http_headers[kMaxRequestHeaders];
};

// An IPv4 address and port, both in host byte order.
struct mg_address {
  uint32_t ip;
  uint16_t port;
};

// A connection as it travels from the listener to a worker.
struct mg_socket {
  int sock;
  mg_address local;   // the listener that accepted it
  mg_address remote;  // the client
  bool is_ssl;
  std::chrono::steady_clock::time_point accepted;
};

// One connection being served; a pointer to it is also a pointer to its request.
struct mg_conn {
  mg_request request;
  mg_ctx* ctx;
  mg_socket client;
  time_t birth_time;        // start of the current request, seconds since 1970
  uint64_t num_bytes_sent;  // bytes the handlers and the engine gave to mg_send
  mg_conn_state* state;     // the engine's own bookkeeping for the connection
};

// URI handlers. begin: non-zero to go on, 0 after it answered itself. data: 1 to go on,
// 0 to stop. end: writes the reply of a request that went well.
using mg_begin_handler = int (*)(mg_conn*, const mg_request*, void* user_data);
using mg_data_handler = int (*)(mg_conn*, const mg_request*, const char* bytes, int length, void* user_data);
using mg_end_handler = void (*)(mg_conn*, const mg_request*, void* user_data);
// Told that a body which began (its begin handler went on) will never reach the end
// handler: the client broke off or went quiet, a data handler stopped it, the body was too
// slow while others waited for a worker, or the engine is stopping. Called exactly once
// for such a request, on the worker that served it, after the last data call, so that the
// owner can drop what the begin handler made.
using mg_abort_handler = void (*)(mg_conn*, const mg_request*, void* user_data);

// Receives every error-log message; conn and request are nullptr for messages that
// belong to no connection. The default hook writes the error-log line.
using mg_log_hook = void (*)(mg_ctx*, const mg_conn*, const mg_request*, const char* message);

// Creates and starts an engine with the default options and no listener; nullptr on failure.
mg_ctx* mg_start();
// 1: stored and checked; 0: stored but the check failed; -1: no such option, nothing stored.
// A nullptr value empties the option.
int mg_set_option(mg_ctx*, const char* name, const char* value);
// Stops the engine, waits for its threads and releases the context. Requests still running
// 5 s after the call are cut off: their sockets are shut, so that reading and sending fail
// at once, and their bodies reported to the abort handlers. Returns soon after, unless a
// handler itself keeps running.
void mg_stop(mg_ctx*);

// Adds a handler entry; the pattern's '*' matches any run of characters. begin and data
// may be nullptr.
void mg_set_uri_handlers(mg_ctx*, const char* pattern, mg_begin_handler, mg_data_handler, mg_end_handler,
                         void* user_data);
// Adds an abort handler to the entry whose pattern is exactly this text; 1 when there is
// one, else 0 (nothing registered). nullptr removes it.
int mg_set_abort_handler(mg_ctx*, const char* pattern, mg_abort_handler, void* user_data);
// Makes the entry whose pattern is exactly this text a persistent one (on non-zero) or not;
// 1 when there is such an entry, else 0. For requests routed to a persistent entry the
// engine also takes request bodies sent with "Transfer-Encoding: chunked" (handed to the
// data handler without their framing, in pieces of at most 512 bytes; a body without data
// is one call of length 0; a malformed one is answered 400 and reported to the abort
// handler; other transfer codings get 501) and keeps the connection open for the client's
// next HTTP/1.1 request when the handler's reply was framed (Content-Length matching the
// body sent, chunked through mg_send_chunk up to its last chunk, or a 204, 304 or HEAD
// reply) and neither side asked for "Connection: close". The engine adds
// "Connection: close" to the head of a connection's last reply. Other entries keep
// exactly one request per connection.
int mg_set_uri_persistent(mg_ctx*, const char* pattern, int on);
// Replaces the log hook (nullptr restores the default).
void mg_set_log_hook(mg_ctx*, mg_log_hook);

// Value of the first request header of that name (ASCII case ignored), or nullptr.
const char* mg_find_header(const mg_conn*, const char* name);
// Sends all bytes unless a send fails; returns the number of bytes taken. The lines of a
// reply head are gathered and go out together once its empty line is written, or when the
// handler returns; after a failed send the rest of the output is dropped and 0 returned.
int mg_send(mg_conn*, const void* bytes, int length);
// Sends one chunk of a reply whose head said "Transfer-Encoding: chunked"; a length of 0
// sends the last chunk. Returns the body bytes taken, as mg_send does.
int mg_send_chunk(mg_conn*, const void* bytes, int length);
// Formats into 8192 bytes (longer output is cut and logged) and sends; returns bytes sent.
int mg_send_formatted(mg_conn*, const char* format, ...) __attribute__((format(printf, 2, 3)));
