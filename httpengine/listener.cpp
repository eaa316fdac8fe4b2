// Listening sockets, the listener thread and accepting connections.
#include "httpengine/engine-private.h"
#include "platform/sockets.h"

#include <algorithm>
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

using Clock = std::chrono::steady_clock;

// How long until the listener accepts connections itself: at once when no worker is
// left or none of them has accepted for a while; while workers accept, the listener
// looks again that soon, in case all of them get busy with long requests.
std::chrono::milliseconds listener_accepts_in(mg_ctx* ctx) {
  std::lock_guard lock(ctx->thread_lock);
  if (ctx->num_threads == 0) return std::chrono::milliseconds(0);
  if (ctx->num_accepting > 0) return kAcceptingTakeOver;
  const auto left = ctx->accepting_ended + kAcceptingTakeOver - Clock::now();
  return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(left));
}

// Connections accepted at once per wake-up of a listener, so that a burst costs one wait.
constexpr int kAcceptBatch = 32;

// Connections the listener holds: heads still coming in, complete heads with a body that
// wait for a body worker (pending), and connections beyond their address's share (over).
struct held_connections {
  std::vector<mg_pending> pending;
  std::vector<mg_socket> over;
};

void log_over_share(mg_ctx* ctx, uint32_t ip) {
  log_error(ctx, nullptr, "%s: %s has too many connections", "accept_new_connection", dotted_address(ip).c_str());
}

void refuse_over_share(mg_ctx* ctx, const mg_socket& socket) {
  log_over_share(ctx, socket.remote.ip);
  CloseSocket(socket.sock);
}

// Starts reading the head of a connection that holds its share of its address.
void admit(mg_ctx* ctx, const mg_socket& socket, held_connections& held) {
  mg_pending connection;
  connection.socket = socket;
  connection.head_due = socket.accepted + ctx->head_deadline;
  if (receive_head(connection) < 0) {
    drop_pending(ctx, connection);
  } else {
    held.pending.push_back(std::move(connection));
  }
}

// Keeps a connection beyond its address's share waiting, unless its address has too many
// waiting already.
void hold_beyond_share(mg_ctx* ctx, const mg_socket& socket, held_connections& held) {
  const uint32_t ip = socket.remote.ip;
  if (std::count_if(held.over.begin(), held.over.end(), [ip](const mg_socket& s) { return s.remote.ip == ip; }) <
      kMaxWaitingPerAddress) {
    held.over.push_back(socket);
  } else {
    refuse_over_share(ctx, socket);
  }
}

// Takes over what the workers accepted but could not serve yet.
void take_handed_over(mg_ctx* ctx, held_connections& held) {
  std::vector<mg_pending> pending;
  std::vector<mg_socket> beyond_share;
  {
    std::lock_guard lock(ctx->thread_lock);
    pending.swap(ctx->handed_over);
    beyond_share.swap(ctx->handed_over_beyond_share);
  }
  for (mg_pending& connection : pending) held.pending.push_back(std::move(connection));
  for (const mg_socket& socket : beyond_share) hold_beyond_share(ctx, socket, held);
}

// Admits the connections over their address's share once there is room, and refuses
// those that waited too long.
void admit_over_share(mg_ctx* ctx, held_connections& held) {
  const auto now = Clock::now();
  std::erase_if(held.over, [&](const mg_socket& socket) {
    if (claim_address(ctx, socket.remote.ip)) {
      admit(ctx, socket, held);
    } else if (now >= socket.accepted + kAddressWait) {
      refuse_over_share(ctx, socket);
    } else {
      return false;
    }
    return true;
  });
}

// Accepts what waits on the listener.
void accept_new_connections(mg_ctx* ctx, const mg_socket& listener, held_connections& held) {
  for (int i = 0; i < kAcceptBatch; ++i) {
    mg_address remote{};
    const int sock = AcceptConnection(listener.sock, remote.ip, remote.port);
    if (sock == -1) return;

    const mg_socket socket{sock, listener.local, remote, listener.is_ssl, Clock::now()};
    mg_pending connection;
    switch (admit_connection(ctx, socket, connection)) {
      case mg_admission::refused:
        break;
      case mg_admission::beyond_share:
        hold_beyond_share(ctx, socket, held);
        break;
      case mg_admission::reading_head:
      case mg_admission::head_read:
        held.pending.push_back(std::move(connection));
        break;
    }
  }
}

// While the accepting workers are all busy: accepts what waits on the listening sockets
// and takes the parked connections whose next request began.
void take_over_waits(mg_ctx* ctx, held_connections& held) {
  std::vector<ConnectionEvent> ready;
  ctx->waits.Wait(0, kAcceptBatch, ready);
  for (const ConnectionEvent& event : ready) {
    if (event.kind == ConnectionEvent::listener) {
      std::lock_guard lock(ctx->option_locks[kOptionPorts]);
      if (const mg_socket* listener = current_listener(ctx, event.sock)) {
        accept_new_connections(ctx, *listener, held);
        ctx->waits.ArmListener(listener->sock);
      }
      continue;
    }
    mg_pending connection;
    if (!take_parked(ctx, event, connection)) continue;
    // Its head is read with the others that are coming in.
    held.pending.push_back(std::move(connection));
  }
  // A notice taken here was meant for a worker that began to wait meanwhile.
  std::lock_guard lock(ctx->thread_lock);
  if (ctx->num_accepting > 0 && ctx->queue_head != ctx->queue_tail) ctx->waits.Notify();
}

// Reads the heads that have come in, drops the connections that closed, sent no valid
// head or missed their head deadline or idle limit. waiting holds, from first on, the
// connections still reading their heads, in their order.
void read_heads(mg_ctx* ctx, std::vector<mg_pending>& pending, const std::vector<bool>& ready_sockets, size_t first) {
  const auto now = Clock::now();
  size_t next = first;
  for (mg_pending& connection : pending) {
    if (connection.head_length != 0) continue;
    const bool ready = ready_sockets[next++];
    const bool failed = ready && continue_head(ctx, connection) < 0;
    if (failed || (connection.head_length == 0 && now >= connection.head_due)) {
      drop_pending(ctx, connection);
      connection.socket.sock = -1;
    }
  }
  std::erase_if(pending, [](const mg_pending& p) { return p.socket.sock == -1; });
}

// Hands complete heads to the workers, those with a body only while a body worker is free
// for them; the others wait here, in the order they came.
void dispatch_heads(mg_ctx* ctx, held_connections& held) {
  std::vector<mg_pending>& pending = held.pending;
  const auto now = Clock::now();
  int waiting_bodies = 0;
  int waiting_kept = 0;
  for (mg_pending& connection : pending) {
    if (connection.head_length == 0) continue;
    if (connection.kept && !reclaim_address(ctx, connection)) {
      if (now < connection.head_due) {
        ++waiting_kept;
      } else {
        log_over_share(ctx, connection.socket.remote.ip);
        drop_pending(ctx, connection);
        connection.socket.sock = -1;
      }
      continue;
    }
    if (connection.wants_body && !claim_body(ctx, connection)) {
      ++waiting_bodies;
      continue;
    }
    queue_socket(ctx, std::move(connection));
    connection.socket.sock = -1;
  }
  std::erase_if(pending, [](const mg_pending& p) { return p.socket.sock == -1; });
  set_waiting(ctx, waiting_bodies, static_cast<int>(held.over.size()) + waiting_kept);
}

// Waits for connections and heads until a stop is requested.
void accept_until_stopped(mg_ctx* ctx, held_connections& held) {
  std::vector<mg_pending>& pending = held.pending;
  std::vector<int> waiting;
  std::vector<bool> ready;
  auto next_slow_check = Clock::now();
  while (ctx->stop_flag.load() == 0) {
    take_handed_over(ctx, held);
    waiting.clear();
    // Workers accept connections and serve parked ones themselves; the listener only
    // while none of them can.
    const auto accepts_in = listener_accepts_in(ctx);
    const bool takes_over = accepts_in.count() == 0;
    if (takes_over && ctx->accepting_workers > 0) {
      waiting.push_back(ctx->waits.Handle());
    } else if (takes_over) {
      std::lock_guard lock(ctx->option_locks[kOptionPorts]);
      for (const mg_socket& listener : ctx->listeners) waiting.push_back(listener.sock);
    }
    const size_t listeners = waiting.size();
    waiting.push_back(ctx->wake.sock);
    const auto now = Clock::now();
    auto wait = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(kListenerWait), accepts_in);
    if (wait.count() == 0) wait = std::chrono::duration_cast<std::chrono::milliseconds>(kListenerWait);
    wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(close_parked(ctx, false, now + wait) - now),
                      std::chrono::milliseconds(0), wait);
    for (const mg_pending& connection : pending) {
      if (connection.head_length == 0) {
        waiting.push_back(connection.socket.sock);
      } else if (!connection.kept) {
        continue;
      }
      const auto left = connection.head_due - now;
      wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(left), std::chrono::milliseconds(0), wait);
    }
    if (!held.over.empty()) {
      const auto left = held.over.front().accepted + kAddressWait - now;
      wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(left), std::chrono::milliseconds(0), wait);
    }
    if (WaitUntilReadable(waiting, ready, static_cast<int>(wait.count())) < 0) {
      std::this_thread::sleep_for(kListenerWait);
      continue;
    }
    if (ready[listeners]) ctx->wake.Drain();
    read_heads(ctx, pending, ready, listeners + 1);
    admit_over_share(ctx, held);
    if (ctx->accepting_workers > 0) {
      if (listeners == 1 && ready[0]) take_over_waits(ctx, held);
    } else {
      // The listeners may have been replaced meanwhile; a socket that is not ready simply
      // fails its non-blocking accept.
      std::lock_guard lock(ctx->option_locks[kOptionPorts]);
      for (const mg_socket& listener : ctx->listeners) {
        for (size_t i = 0; i < listeners; ++i) {
          if (waiting[i] == listener.sock && ready[i]) {
            accept_new_connections(ctx, listener, held);
          }
        }
      }
    }
    dispatch_heads(ctx, held);
    if (Clock::now() >= next_slow_check) {
      cut_slow_bodies(ctx);
      next_slow_check = Clock::now() + kListenerWait;
    }
  }
}

}  // namespace

mg_admission admit_connection(mg_ctx* ctx, const mg_socket& socket, mg_pending& connection) {
  const uint32_t ip = socket.remote.ip;
  const std::string acl = get_option(ctx, kOptionAcl);
  if (!acl.empty() && !acl_allows(acl, ip)) {
    log_error(ctx, nullptr, "%s: %s is not allowed to connect", "accept_new_connection", dotted_address(ip).c_str());
    CloseSocket(socket.sock);
    return mg_admission::refused;
  }
  if (!claim_address(ctx, ip)) return mg_admission::beyond_share;
  connection.socket = socket;
  connection.head_due = socket.accepted + ctx->head_deadline;
  const int head = receive_head(connection);
  if (head < 0) {
    drop_pending(ctx, connection);
    return mg_admission::refused;
  }
  return head == 0 ? mg_admission::reading_head : mg_admission::head_read;
}

bool set_ports(mg_ctx* ctx, const std::string& ports) {
  close_listeners(ctx);
  const bool opened = for_each_list_item(ports, [ctx](std::string_view item) {
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
  std::vector<int> listeners;
  for (const mg_socket& listener : ctx->listeners) listeners.push_back(listener.sock);
  ctx->waits.Watch(listeners);
  ctx->wake.Wake();
  return opened;
}

const mg_socket* current_listener(mg_ctx* ctx, int sock) {
  const auto found = std::find_if(ctx->listeners.begin(), ctx->listeners.end(),
                                  [sock](const mg_socket& listener) { return listener.sock == sock; });
  return found != ctx->listeners.end() ? &*found : nullptr;
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
  held_connections held;
  accept_until_stopped(ctx, held);
  {
    std::lock_guard lock(ctx->option_locks[kOptionPorts]);
    close_listeners(ctx);
  }
  take_handed_over(ctx, held);
  for (mg_pending& connection : held.pending) drop_pending(ctx, connection);
  close_parked(ctx, true, Clock::now());
  for (const mg_socket& socket : held.over) CloseSocket(socket.sock);
  set_waiting(ctx, 0, 0);
  const auto all_ended = [ctx] { return ctx->num_threads == 0; };
  std::unique_lock lock(ctx->thread_lock);
  ctx->queue_not_empty.notify_all();  // wakes the idle workers to see the stop
  ctx->waits.Stop();
  if (!ctx->all_workers_ended.wait_for(lock, ctx->stop_grace, all_ended)) {
    lock.unlock();
    cut_off_requests(ctx);
    lock.lock();
    ctx->all_workers_ended.wait(lock, all_ended);
  }
  lock.unlock();
  while (ctx->threads_inside.load() != 0) std::this_thread::yield();
  ctx->stop_flag.store(2);  // the context belongs to mg_stop from here on
  return nullptr;
}

void set_waiting(mg_ctx* ctx, int bodies, int connections) {
  std::lock_guard lock(ctx->thread_lock);
  ctx->bodies_waiting = bodies;
  ctx->connections_waiting = connections;
}

mg_wake::mg_wake() : sock(OpenWakeSocket()) {}

mg_wake::~mg_wake() {
  if (sock != -1) CloseSocket(sock);
}

void mg_wake::Wake() const { WakeSocket(sock); }

void mg_wake::Drain() const { DrainWakeSocket(sock); }
