// The print service's "/info" beside the engine's bare reply in the same process (in one
// call, and in a call per line as "/info" writes it), one request per connection, at 1,
// 4 and 10 clients (one address holds at most 16 connections); the identity is stored,
// as on a PC that has been on the relay once. Prints figures; asserts nothing.
#include "printservice/vostrelhttpserver.h"
#include "tests/support/servicetest.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRunTime = std::chrono::seconds(3);

void BareReply(mg_conn* conn, const mg_request*, void*) {
  mg_send_formatted(conn, "%s", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
}

// The bare reply written as "/info" writes its head: a call per line.
void BareReplyByLines(mg_conn* conn, const mg_request*, void*) {
  mg_send_formatted(conn, "HTTP/1.1 204 No Content\r\n");
  for (int line = 0; line < 6; ++line) mg_send_formatted(conn, "X-Line-%d: value\r\n", line);
  mg_send_formatted(conn, "\r\n");
}

// Requests per second for GET `path` with `clients` connections at a time.
double RequestsPerSecond(uint16_t port, const std::string& path, int clients) {
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: bench\r\n\r\n";
  std::atomic<uint64_t> done{0}, failed{0};
  const auto end = Clock::now() + kRunTime;
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      while (Clock::now() < end) {
        (ExchangeWithService(port, request).starts_with("HTTP/1.1 204") ? done : failed)++;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  if (failed > 0) std::fprintf(stderr, "  (%llu failed requests)\n", static_cast<unsigned long long>(failed.load()));
  return static_cast<double>(done) / std::chrono::duration<double>(kRunTime).count();
}

}  // namespace

int main() {
  ServiceTestEnvironment environment;
  const uint16_t servicePort = FindFreePort();
  CVostrelHttpServer service;
  service.Start(servicePort);

  mg_ctx* engine = mg_start();
  const uint16_t barePort = FindFreePort();
  mg_set_option(engine, "ports", ("127.0.0.1:" + std::to_string(barePort)).c_str());
  mg_set_uri_handlers(engine, "/bare", nullptr, nullptr, BareReply, nullptr);
  mg_set_uri_handlers(engine, "/lines", nullptr, nullptr, BareReplyByLines, nullptr);
  if (!WaitForService(servicePort, std::chrono::seconds(10))) {
    std::fprintf(stderr, "the print service does not answer\n");
    return 1;
  }

  std::printf("/info beside the engine's bare reply (requests/s, %lld s each, one request per connection)\n",
              static_cast<long long>(kRunTime.count()));
  std::printf("  %-8s %12s %12s %12s %8s\n", "clients", "bare", "bare, 8 lines", "/info", "ratio");
  for (int clients : {1, 4, 10}) {
    const double bare = RequestsPerSecond(barePort, "/bare", clients);
    const double lines = RequestsPerSecond(barePort, "/lines", clients);
    const double info = RequestsPerSecond(servicePort, "/info", clients);
    std::printf("  %-8d %12.0f %12.0f %12.0f %8.2f\n", clients, bare, lines, info, bare > 0 ? info / bare : 0);
    std::fflush(stdout);
  }
  mg_stop(engine);
  return 0;
}
