// Listening sockets, the listener thread and accepting connections.
#include "httpengine/engine-private.h"
#include "platform/sockets.h"

#include <cerrno>
#include <pthread.h>
#include <thread>

namespace {

void close_listeners(mg_ctx* ctx) {
  for (const mg_socket& listener : ctx->listeners) CloseSocket(listener.sock);
  ctx->listeners.clear();
}

// Opens one "ports" entry: "a.b.c.d:port" or "port"; -1 on failure.
int mg_open_listening_port(mg_ctx* ctx, const std::string& entry, mg_address& address) {
  unsigned a, b, c, d;
  int port;
  char end;
  if (sscanf(entry.c_str(), "%u.%u.%u.%u:%d%c", &a, &b, &c, &d, &port, &end) >= 5) {
    if (a > 255 || b > 255 || c > 255 || d > 255) return -1;
    address.ip = (a << 24) | (b << 16) | (c << 8) | d;
  } else if (sscanf(entry.c_str(), "%d", &port) == 1) {
    address.ip = 0;  // every address
  } else {
    return -1;
  }
  address.port = static_cast<uint16_t>(port);

  // Non-blocking, so that an accept never waits while the listener holds the "ports" lock.
  std::string error;
  const int sock = OpenListeningSocket(address.ip, address.port, kListenBacklog, error);
  if (sock == -1) log_error(ctx, nullptr, "%s(%d): %s", "mg_open_listening_port", port, error.c_str());
  return sock;
}

void accept_new_connection(mg_ctx* ctx, const mg_socket& listener) {
  mg_address remote{};
  const int sock = AcceptConnection(listener.sock, remote.ip, remote.port);
  if (sock == -1) return;

  mg_socket record{sock, listener.local, remote, listener.is_ssl, std::chrono::steady_clock::now()};
  const std::string acl = get_option(ctx, kOptionAcl);
  if (!acl.empty() && !acl_allows(acl, record.remote.ip)) {
    log_error(ctx, nullptr, "%s: %s is not allowed to connect", "accept_new_connection",
              dotted_address(record.remote.ip).c_str());
    CloseSocket(sock);
    return;
  }
  if (!claim_address(ctx, record.remote.ip)) {
    log_error(ctx, nullptr, "%s: %s has too many connections", "accept_new_connection",
              dotted_address(record.remote.ip).c_str());
    CloseSocket(sock);
    return;
  }
  queue_socket(ctx, record);
}

// Waits for connections on every listener and queues them, until a stop is requested.
void accept_until_stopped(mg_ctx* ctx) {
  std::vector<int> waiting;
  std::vector<bool> ready;
  while (ctx->stop_flag.load() == 0) {
    waiting.clear();
    {
      std::lock_guard lock(ctx->option_locks[kOptionPorts]);
      for (const mg_socket& listener : ctx->listeners) waiting.push_back(listener.sock);
    }
    const int count = waiting.empty() ? -1 : WaitUntilReadable(waiting, ready, kListenerWait.count());
    if (count < 0) {
      std::this_thread::sleep_for(kListenerWait);
      continue;
    }
    if (count == 0) continue;
    // The listeners may have been replaced meanwhile; a socket that is not ready simply
    // fails its non-blocking accept.
    std::lock_guard lock(ctx->option_locks[kOptionPorts]);
    for (const mg_socket& listener : ctx->listeners) {
      for (size_t i = 0; i < waiting.size(); ++i) {
        if (waiting[i] == listener.sock && ready[i]) accept_new_connection(ctx, listener);
      }
    }
  }
}

}  // namespace

bool set_ports(mg_ctx* ctx, const std::string& ports) {
  close_listeners(ctx);
  return for_each_list_item(ports, [ctx](std::string_view item) {
    const std::string entry(item);
    if (ctx->listeners.size() == kMaxListeners) {
      log_error(ctx, nullptr, "Too many listeninig sockets");
      return false;
    }
    mg_socket listener{-1, {}, {}, !entry.empty() && entry.back() == 's', {}};
    listener.sock = mg_open_listening_port(ctx, entry, listener.local);
    if (listener.sock == -1) {
      log_error(ctx, nullptr, "cannot bind to %.*s", static_cast<int>(entry.size()), entry.data());
      return false;
    }
    if (listener.is_ssl) {  // no secure context exists in this engine
      CloseSocket(listener.sock);
      log_error(ctx, nullptr, "cannot add SSL socket, please specify -ssl_cert option BEFORE -ports option");
      return false;
    }
    ctx->listeners.push_back(listener);
    return true;
  });
}

bool start_thread(void* (*body)(void*), void* arg) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, body, arg);
  pthread_attr_destroy(&attributes);
  if (error != 0) errno = error;
  return error == 0;
}

void* listener_thread(void* arg) {
  auto* ctx = static_cast<mg_ctx*>(arg);
  accept_until_stopped(ctx);
  {
    std::lock_guard lock(ctx->option_locks[kOptionPorts]);
    close_listeners(ctx);
  }
  {
    std::unique_lock lock(ctx->thread_lock);
    ctx->queue_not_empty.notify_all();  // wakes the idle workers to see the stop
    ctx->all_workers_ended.wait(lock, [ctx] { return ctx->num_threads == 0; });
  }
  while (ctx->threads_inside.load() != 0) std::this_thread::yield();
  ctx->stop_flag.store(2);  // the context belongs to mg_stop from here on
  return nullptr;
}
