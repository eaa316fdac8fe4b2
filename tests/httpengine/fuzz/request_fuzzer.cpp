// libFuzzer target: one connection's bytes through the head reader, the router, the
// handlers with their bodies (chunked ones for the persistent entries), the requests that
// follow on a kept connection, and the built-in document serving.
#include "httpengine/engine-private.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

mg_ctx* engine = nullptr;

int AcceptBody(mg_conn*, const mg_request* request, void*) {
  // Touch what a handler reads, so the sanitizers see stale pointers.
  return mg_find_header(reinterpret_cast<const mg_conn*>(request), "X-Refuse") == nullptr;
}

int TakeData(mg_conn*, const mg_request*, const char* bytes, int length, void*) {
  volatile char sink = 0;
  for (int i = 0; i < length; ++i) sink = static_cast<char>(sink ^ bytes[i]);
  return length != 7;  // one chunk size is refused, to reach the 577 paths
}

void Reply(mg_conn* conn, const mg_request* request, void*) {
  mg_send_formatted(conn, "HTTP/1.1 204 No Content\r\nX-Uri: %s\r\nX-Query: %s\r\n\r\n", request->uri,
                    request->query_string != nullptr ? request->query_string : "");
}

// Persistent entries: a reply with a length (or a wrong one, to close), and one in chunks.
void ReplyWithLength(mg_conn* conn, const mg_request* request, void*) {
  const bool wrong = request->query_string != nullptr && request->query_string[0] == 'w';
  mg_send_formatted(conn, "HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\nok", wrong ? 3 : 2);
}

void ReplyInChunks(mg_conn* conn, const mg_request* request, void*) {
  mg_send_formatted(conn, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  mg_send_chunk(conn, request->uri, static_cast<int>(strlen(request->uri)));
  mg_send_chunk(conn, nullptr, 0);
}

void StartEngine() {
  char pattern[] = "/tmp/olvaro-fuzz.XXXXXX";
  const std::filesystem::path root = mkdtemp(pattern);
  std::filesystem::create_directories(root / "sub");
  std::ofstream(root / "file.txt") << "some file content";
  std::ofstream(root / "sub" / "index.html") << "<p>index</p>";
  std::ofstream(root / "run.cgi") << "#!/bin/sh\n";
  std::ofstream(root / "sub" / ".htpasswd") << "user:olvaro.local:0123456789abcdef0123456789abcdef\n";

  engine = mg_start();
  mg_set_option(engine, "error_log", "/dev/null");
  mg_set_option(engine, "root", root.c_str());
  mg_set_option(engine, "dir_list", "no");
  mg_set_option(engine, "aliases", ("/alias=" + (root / "sub").string()).c_str());
  engine->head_deadline = std::chrono::milliseconds(50);
  engine->body_idle_limit = std::chrono::milliseconds(50);
  mg_set_uri_handlers(engine, "/print", AcceptBody, TakeData, Reply, nullptr);
  mg_set_uri_handlers(engine, "/info", nullptr, nullptr, Reply, nullptr);
  mg_set_uri_handlers(engine, "/any/*/x*", nullptr, TakeData, Reply, nullptr);
  mg_set_uri_handlers(engine, "/ipp*", AcceptBody, TakeData, ReplyWithLength, nullptr);
  mg_set_uri_persistent(engine, "/ipp*", 1);
  mg_set_uri_handlers(engine, "/chunks", nullptr, TakeData, ReplyInChunks, nullptr);
  mg_set_uri_persistent(engine, "/chunks", 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (engine == nullptr) StartEngine();
  if (size > 32768) return 0;  // stays within the socket buffer, so writing never blocks
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) abort();
  if (size > 0 && write(ends[0], data, size) != static_cast<ssize_t>(size)) abort();
  shutdown(ends[0], SHUT_WR);

  static auto* worker = new mg_worker_conn();
  worker->conn.ctx = engine;
  worker->pending = mg_pending();
  worker->pending.socket = {ends[1], {0x7f000001, 80}, {0x7f000002, 4321}, false, std::chrono::steady_clock::now()};
  receive_head(worker->pending);  // everything has arrived: the listener's one read
  worker->conn.client = worker->pending.socket;
  worker->conn.birth_time = time(nullptr);
  worker->conn.num_bytes_sent = 0;
  // The requests that follow on a kept connection, as a worker serves them.
  serve_connection(worker);
  while (worker->state.keep_open && receive_next_head(worker, 0) == 1) serve_connection(worker);
  finish_connection(&worker->conn);

  char reply[65536];
  while (read(ends[0], reply, sizeof reply) > 0) {
  }
  close(ends[0]);
  return 0;
}
