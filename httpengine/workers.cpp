// The connection queue and the worker threads that serve it.
#include "httpengine/engine-private.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/sockets.h"

namespace {

using Clock = std::chrono::steady_clock;

// Under the thread lock: one more worker. A worker that cannot be started is logged
// (the log hook may take its time: not under the lock).
void start_worker(mg_ctx* ctx) {
  ++ctx->threads_inside;
  if (start_thread(worker_thread, ctx)) {
    ++ctx->num_threads;
    return;
  }
  --ctx->threads_inside;
  const int error = errno;
  ctx->thread_lock.unlock();
  log_error(ctx, nullptr, "Cannot start thread: %d", error);
  ctx->thread_lock.lock();
}

// Under the thread lock: counts down a per-address map.
void release_count(std::map<uint32_t, int>& counts, uint32_t ip) {
  auto held = counts.find(ip);
  if (held != counts.end() && --held->second == 0) counts.erase(held);
}

// Under the thread lock: takes a place in the address's share.
bool claim_address_locked(mg_ctx* ctx, uint32_t ip) {
  int& held = ctx->connections_per_address[ip];
  if (held == kMaxConnectionsPerAddress) return false;
  ++held;
  return true;
}

// Under the thread lock: gives up the body worker of a connection's request. The
// listener is woken only when that makes room for what waits at it, not after every
// request.
void release_body_locked(mg_ctx* ctx, mg_pending& pending) {
  if (!pending.holds_body) return;
  --ctx->num_bodies;
  release_count(ctx->bodies_per_address, pending.socket.remote.ip);
  pending.holds_body = false;
  if (ctx->bodies_waiting > 0) ctx->wake.Wake();
}

// Under the thread lock: gives up the address and the body worker of a connection.
void release_locked(mg_ctx* ctx, mg_pending& pending) {
  release_count(pending.kept ? ctx->kept_per_address : ctx->connections_per_address, pending.socket.remote.ip);
  release_body_locked(ctx, pending);
  if (!pending.kept && ctx->connections_waiting > 0) ctx->wake.Wake();
}

// A connection idle between requests gives its place in its address's share to others;
// false when its address holds all the kept connections it may (it is closed then).
bool keep_idle(mg_ctx* ctx, mg_pending& pending) {
  const uint32_t ip = pending.socket.remote.ip;
  std::lock_guard lock(ctx->thread_lock);
  int& kept = ctx->kept_per_address[ip];
  if (kept == kMaxKeptPerAddress) return false;
  ++kept;
  release_count(ctx->connections_per_address, ip);
  pending.kept = true;
  return true;
}

// True when connections wait for a worker or for a place in their address's share.
bool others_wait(mg_ctx* ctx) {
  std::lock_guard lock(ctx->thread_lock);
  return ctx->connections_waiting > 0 || ctx->queue_head != ctx->queue_tail;
}

// Leaves a connection to the listener; a stopping engine closes it instead, since the
// listener may have given up its connections already.
void hand_over(mg_ctx* ctx, mg_pending&& connection) {
  {
    std::lock_guard lock(ctx->thread_lock);
    if (ctx->stop_flag.load() == 0) {
      ctx->handed_over.push_back(std::move(connection));
      connection.socket.sock = -1;
    }
  }
  if (connection.socket.sock != -1) drop_pending(ctx, connection);
  ctx->wake.Wake();
}

// Under the thread lock: a worker no longer idle starts serving `worker->pending`.
void start_serving(mg_ctx* ctx, mg_worker_conn* worker) {
  ctx->serving.push_back(worker);
  worker->state.cut_off = false;
}

// Under the thread lock: takes the next queued connection, if any.
bool take_queued(mg_ctx* ctx, mg_worker_conn* worker) {
  if (ctx->queue_head == ctx->queue_tail) return false;
  worker->pending = std::move(ctx->queue[ctx->queue_tail % kQueueSize]);
  ++ctx->queue_tail;
  while (ctx->queue_tail > kQueueSize) {
    ctx->queue_tail -= kQueueSize;
    ctx->queue_head -= kQueueSize;
  }
  ctx->queue_not_full.notify_one();
  return true;
}

// A client sends its head right after connecting: the head of a connection accepted the
// moment it arrived is usually a moment behind. Waits that moment for it, not longer.
mg_admission wait_for_head(mg_ctx* ctx, mg_pending& connection) {
  std::vector<bool> ready;
  if (WaitUntilReadable({connection.socket.sock}, ready, kHeadWaitAtAccept) != 1) return mg_admission::reading_head;
  const int head = receive_head(connection);
  if (head < 0) {
    drop_pending(ctx, connection);
    return mg_admission::refused;
  }
  return head == 0 ? mg_admission::reading_head : mg_admission::head_read;
}

// Accepts a connection on `listener` and keeps it when it can be served at once; hands
// it to the listener when its head is still coming in, it waits for a body worker or
// its address holds its share.
bool accept_here(mg_ctx* ctx, int listener, mg_worker_conn* worker) {
  mg_socket socket{};
  {
    std::lock_guard lock(ctx->option_locks[kOptionPorts]);
    const mg_socket* found = current_listener(ctx, listener);
    if (found == nullptr) return false;
    socket = *found;
    socket.sock = AcceptConnection(listener, socket.remote.ip, socket.remote.port);
    ctx->waits.ArmListener(listener);  // the next connection may go to another worker
    if (socket.sock == -1) return false;  // another thread took it
    socket.accepted = Clock::now();
  }
  mg_pending connection;
  mg_admission admission = admit_connection(ctx, socket, connection);
  if (admission == mg_admission::reading_head) admission = wait_for_head(ctx, connection);
  if (admission == mg_admission::refused) return false;
  if (admission == mg_admission::head_read && (!connection.wants_body || claim_body(ctx, connection))) {
    worker->pending = std::move(connection);
    return true;
  }
  if (admission != mg_admission::beyond_share) {
    hand_over(ctx, std::move(connection));
    return false;
  }
  {
    std::lock_guard lock(ctx->thread_lock);
    ctx->handed_over_beyond_share.push_back(socket);
  }
  ctx->wake.Wake();
  return false;
}

// Leaves an event a worker took but will not serve soon: it is told again, to another
// worker.
void give_back(mg_ctx* ctx, const ConnectionEvent& event) {
  if (event.kind == ConnectionEvent::listener) {
    std::lock_guard lock(ctx->option_locks[kOptionPorts]);
    if (current_listener(ctx, event.sock) != nullptr) ctx->waits.ArmListener(event.sock);
    return;
  }
  recheck_parked(ctx, event);
}

// Serves the next request of a parked connection here when its head is complete and it
// gets its place in its address's share and, with a body, a body worker; otherwise parks
// it again or leaves it to the listener.
bool take_next_request(mg_ctx* ctx, const ConnectionEvent& event, mg_worker_conn* worker) {
  mg_pending connection;
  if (!take_parked(ctx, event, connection)) return false;
  const int head = continue_head(ctx, connection);
  if (head < 0) {
    drop_pending(ctx, connection);
    return false;
  }
  if (head == 0) {
    if (!park_connection(ctx, connection)) hand_over(ctx, std::move(connection));
    return false;
  }
  if ((connection.kept && !reclaim_address(ctx, connection)) || (connection.wants_body && !claim_body(ctx, connection))) {
    hand_over(ctx, std::move(connection));
    return false;
  }
  worker->pending = std::move(connection);
  return true;
}

// Leaves the events a worker took but will not serve soon to the other workers.
void give_back_ready(mg_ctx* ctx, mg_worker_conn* worker) {
  for (const ConnectionEvent& event : worker->ready) give_back(ctx, event);
  worker->ready.clear();
}

// Takes the next connection: queued, accepted here or a parked one's next request; false
// when none came within the idle time or the engine stops. The events of one wait are
// served one after the other, as the next ready work, without waiting again.
bool take_connection(mg_ctx* ctx, mg_worker_conn* worker) {
  // Read before the thread lock: no option lock is taken while it is held.
  const long idle_seconds = atol(get_option(ctx, kOptionIdleTime).c_str());
  const auto deadline = Clock::now() + std::chrono::seconds(idle_seconds + 1);
  std::unique_lock lock(ctx->thread_lock);
  ++ctx->num_idle;
  for (;;) {
    // A stopping engine lets its idle workers go at once instead of after their idle
    // time; connections still queued are served first.
    if (take_queued(ctx, worker)) {
      --ctx->num_idle;
      break;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (ctx->stop_flag.load() != 0) worker->ready.clear();  // the listener closes what is parked
    if (worker->ready.empty()) {
      if (ctx->stop_flag.load() != 0 || left.count() <= 0) return false;
      if (ctx->num_accepting == ctx->accepting_workers) {
        ctx->queue_not_empty.wait_until(lock, deadline);
        continue;
      }
      ++ctx->num_accepting;
      lock.unlock();
      ctx->waits.Wait(static_cast<int>(left.count()), kReadyBatch, worker->ready);
      lock.lock();
      if (--ctx->num_accepting == 0) ctx->accepting_ended = Clock::now();
      // Work queued meanwhile was counted on this idle worker: it goes first.
      if (ctx->queue_head != ctx->queue_tail) {
        lock.unlock();
        give_back_ready(ctx, worker);
        lock.lock();
      }
      continue;
    }
    const ConnectionEvent event = worker->ready.front();
    worker->ready.erase(worker->ready.begin());
    // Busy while accepting: a connection queued meanwhile needs another worker.
    --ctx->num_idle;
    lock.unlock();
    const bool taken = event.kind == ConnectionEvent::listener ? accept_here(ctx, event.sock, worker)
                                                                 : take_next_request(ctx, event, worker);
    // A body may hold this worker for long: the rest goes to others.
    if (taken && worker->pending.wants_body) give_back_ready(ctx, worker);
    lock.lock();
    if (taken) break;
    ++ctx->num_idle;
  }
  start_serving(ctx, worker);
  return true;
}

// The connection is served: the listener may no longer touch its socket.
void end_serving(mg_ctx* ctx, mg_worker_conn* worker) {
  std::lock_guard lock(ctx->thread_lock);
  ctx->serving.erase(std::find(ctx->serving.begin(), ctx->serving.end(), worker));
  release_locked(ctx, worker->pending);
}

// True when the connection stays open after the request just served: its handler and
// client keep it, it is below the request cap and the engine is not stopping.
bool stays_open(mg_ctx* ctx, mg_worker_conn* worker) {
  return worker->state.keep_open && !worker->state.cut_off &&
         ++worker->pending.requests_served < ctx->max_requests_per_connection && ctx->stop_flag.load() == 0;
}

// After a request, with the connection kept open and its next head `head_complete` or
// not: true when this worker serves the next request, which needs a complete head and,
// with a body, a body worker. Otherwise the connection waits for the rest of the head
// (the idle limit while nothing came), parked or at the listener, or at the listener for
// a body worker.
bool serve_next_here(mg_ctx* ctx, mg_worker_conn* worker, bool head_complete) {
  mg_pending& pending = worker->pending;
  if (pending.holds_body) {
    std::lock_guard lock(ctx->thread_lock);
    release_body_locked(ctx, pending);
  }
  if (head_complete && (!pending.wants_body || claim_body(ctx, pending))) return true;
  pending.idle = pending.received == 0;
  pending.head_due = Clock::now() + (pending.idle ? ctx->keep_alive_idle : ctx->head_deadline);
  {
    std::lock_guard lock(ctx->thread_lock);
    ctx->serving.erase(std::find(ctx->serving.begin(), ctx->serving.end(), worker));
  }
  // A body was read in exact amounts, so bytes may be left behind it.
  pending.drained = pending.drained && worker->state.nothing_unread;
  const bool parks = !head_complete && ctx->accepting_workers > 0;
  if (!parks || !park_connection(ctx, pending)) hand_over(ctx, std::move(pending));
  return false;
}

// Serves the requests of a connection while it stays open and each next request comes at
// once; then closes it or leaves it to the listener.
void serve_requests(mg_ctx* ctx, mg_worker_conn* worker) {
  for (int in_a_row = 1;; ++in_a_row) {
    worker->conn.ctx = ctx;
    worker->conn.client = worker->pending.socket;
    worker->conn.birth_time = time(nullptr);
    worker->conn.num_bytes_sent = 0;
    worker->state.last_request = worker->pending.requests_served + 1 >= ctx->max_requests_per_connection;
    worker->state.first_request = worker->pending.requests_served == 0;
    serve_connection(worker);
    if (!stays_open(ctx, worker)) break;
    int head = take_unread_head(worker);
    if (head == 0 && ctx->accepting_workers == 0) {
      // While others wait, the next request waits at the listener unless it is here already.
      const bool yield = in_a_row >= kRequestsBeforeYield && others_wait(ctx);
      head = receive_next_head(worker, yield ? 0 : kNextRequestWait);
    }
    if (head < 0 || (worker->pending.received == 0 && !keep_idle(ctx, worker->pending))) break;
    if (!serve_next_here(ctx, worker, head == 1)) return;
  }
  end_serving(ctx, worker);
  finish_connection(&worker->conn);
}

}  // namespace

bool claim_address(mg_ctx* ctx, uint32_t ip) {
  std::lock_guard lock(ctx->thread_lock);
  return claim_address_locked(ctx, ip);
}

bool reclaim_address(mg_ctx* ctx, mg_pending& pending) {
  std::lock_guard lock(ctx->thread_lock);
  if (!claim_address_locked(ctx, pending.socket.remote.ip)) return false;
  release_count(ctx->kept_per_address, pending.socket.remote.ip);
  pending.kept = false;
  return true;
}

bool claim_body(mg_ctx* ctx, mg_pending& pending) {
  std::lock_guard lock(ctx->thread_lock);
  const long reserved = std::max(1L, ctx->max_threads / kReservedWorkerShare);
  const long limit = std::max(1L, ctx->max_threads - reserved);
  auto held = ctx->bodies_per_address.find(pending.socket.remote.ip);
  if (ctx->num_bodies >= limit || (held != ctx->bodies_per_address.end() && held->second >= kMaxBodiesPerAddress)) {
    return false;
  }
  ++ctx->num_bodies;
  ++ctx->bodies_per_address[pending.socket.remote.ip];
  pending.holds_body = true;
  return true;
}

void drop_pending(mg_ctx* ctx, mg_pending& pending) {
  CloseSocket(pending.socket.sock);
  std::lock_guard lock(ctx->thread_lock);
  release_locked(ctx, pending);
}

bool queue_socket(mg_ctx* ctx, mg_pending&& pending) {
  std::unique_lock lock(ctx->thread_lock);
  ctx->queue_not_full.wait(
      lock, [ctx] { return ctx->queue_head - ctx->queue_tail < kQueueSize || ctx->stop_flag.load() != 0; });
  if (ctx->queue_head - ctx->queue_tail == kQueueSize) {
    lock.unlock();
    drop_pending(ctx, pending);
    return false;
  }
  ctx->queue[ctx->queue_head % kQueueSize] = std::move(pending);
  ++ctx->queue_head;
  // Idle workers that have not yet woken for earlier records are spoken for: start one
  // more whenever the queue holds more records than there are idle workers.
  if (ctx->queue_head - ctx->queue_tail > ctx->num_idle && ctx->num_threads < ctx->max_threads) start_worker(ctx);
  const bool accepting = ctx->num_accepting > 0;
  lock.unlock();  // the woken worker need not wait for the lock
  ctx->queue_not_empty.notify_one();
  if (accepting) ctx->waits.Notify();
  return true;
}

void* worker_thread(void* arg) {
  auto* ctx = static_cast<mg_ctx*>(arg);
  auto worker = std::make_unique<mg_worker_conn>();
  while (take_connection(ctx, worker.get())) {
    const auto start = Clock::now();
    serve_requests(ctx, worker.get());
    worker->pending = mg_pending();
    // What this worker took beside a request that ran long has waited enough.
    if (Clock::now() - start > kAcceptingTakeOver) give_back_ready(ctx, worker.get());
  }
  worker.reset();
  {
    std::lock_guard lock(ctx->thread_lock);
    --ctx->num_threads;
    --ctx->num_idle;
    ctx->all_workers_ended.notify_all();
  }
  ctx->threads_inside.fetch_sub(1);  // the last touch of the context
  return nullptr;
}

void cut_slow_bodies(mg_ctx* ctx) {
  const auto now = Clock::now();
  std::lock_guard lock(ctx->thread_lock);
  if (ctx->bodies_waiting == 0) return;
  for (mg_worker_conn* worker : ctx->serving) {
    mg_conn_state& state = worker->state;
    const auto running = std::chrono::duration_cast<std::chrono::milliseconds>(now - state.body_start);
    if (!state.reading_body || state.cut_off || running < ctx->slow_body_grace) continue;
    if (state.body_bytes.load() * 1000 >= kMinBodyRate * static_cast<uint64_t>(running.count())) continue;
    // Reading only: the client may still get the engine's reply.
    state.cut_off = true;
    ShutDownSocket(worker->conn.client.sock, false);
  }
}

void cut_off_requests(mg_ctx* ctx) {
  std::lock_guard lock(ctx->thread_lock);
  for (mg_worker_conn* worker : ctx->serving) {
    worker->state.cut_off = true;
    ShutDownSocket(worker->conn.client.sock, true);
  }
  for (; ctx->queue_tail != ctx->queue_head; ++ctx->queue_tail) {
    mg_pending& queued = ctx->queue[ctx->queue_tail % kQueueSize];
    CloseSocket(queued.socket.sock);
    release_locked(ctx, queued);
    queued = mg_pending();
  }
  ctx->queue_head = ctx->queue_tail = 0;
  ctx->queue_not_full.notify_all();
}
