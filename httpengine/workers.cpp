// The connection queue and the worker threads that serve it.
#include "httpengine/engine-private.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/sockets.h"

namespace {

using Clock = std::chrono::steady_clock;

// Under the thread lock: counts down a per-address map.
void release_count(std::map<uint32_t, int>& counts, uint32_t ip) {
  auto held = counts.find(ip);
  if (held != counts.end() && --held->second == 0) counts.erase(held);
}

// Under the thread lock: gives up the address and the body worker of a connection.
void release_locked(mg_ctx* ctx, const mg_pending& pending) {
  release_count(ctx->connections_per_address, pending.socket.remote.ip);
  if (pending.holds_body) {
    --ctx->num_bodies;
    release_count(ctx->bodies_per_address, pending.socket.remote.ip);
  }
  if (ctx->bodies_waiting > 0 || ctx->connections_waiting > 0) ctx->wake.Wake();
}

// Takes the next queued connection; false when none came within the idle time.
bool take_socket(mg_ctx* ctx, mg_worker_conn* worker) {
  // Read before the thread lock: no option lock is taken while it is held.
  const long idle_seconds = atol(get_option(ctx, kOptionIdleTime).c_str());
  std::unique_lock lock(ctx->thread_lock);
  ++ctx->num_idle;
  const auto deadline = std::chrono::system_clock::from_time_t(time(nullptr) + idle_seconds + 1);
  while (ctx->queue_head == ctx->queue_tail) {
    // A stopping engine lets its idle workers go at once instead of after their idle
    // time; connections still queued are served first.
    if (ctx->stop_flag.load() != 0) return false;
    if (ctx->queue_not_empty.wait_until(lock, deadline) == std::cv_status::timeout &&
        ctx->queue_head == ctx->queue_tail) {
      return false;
    }
  }
  --ctx->num_idle;
  worker->pending = std::move(ctx->queue[ctx->queue_tail % kQueueSize]);
  ++ctx->queue_tail;
  while (ctx->queue_tail > kQueueSize) {
    ctx->queue_tail -= kQueueSize;
    ctx->queue_head -= kQueueSize;
  }
  ctx->serving.push_back(worker);
  worker->state.cut_off = false;
  ctx->queue_not_full.notify_one();
  return true;
}

// The connection is served: the listener may no longer touch its socket.
void end_serving(mg_ctx* ctx, mg_worker_conn* worker) {
  std::lock_guard lock(ctx->thread_lock);
  ctx->serving.erase(std::find(ctx->serving.begin(), ctx->serving.end(), worker));
  release_locked(ctx, worker->pending);
}

}  // namespace

bool claim_address(mg_ctx* ctx, uint32_t ip) {
  std::lock_guard lock(ctx->thread_lock);
  int& held = ctx->connections_per_address[ip];
  if (held == kMaxConnectionsPerAddress) return false;
  ++held;
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
  if (ctx->queue_head - ctx->queue_tail > ctx->num_idle && ctx->num_threads < ctx->max_threads) {
    ++ctx->threads_inside;
    if (start_thread(worker_thread, ctx)) {
      ++ctx->num_threads;
    } else {
      --ctx->threads_inside;
      const int error = errno;
      lock.unlock();  // the log hook may take its time
      log_error(ctx, nullptr, "Cannot start thread: %d", error);
      lock.lock();
    }
  }
  lock.unlock();  // the woken worker need not wait for the lock
  ctx->queue_not_empty.notify_one();
  return true;
}

void* worker_thread(void* arg) {
  auto* ctx = static_cast<mg_ctx*>(arg);
  auto worker = std::make_unique<mg_worker_conn>();
  while (take_socket(ctx, worker.get())) {
    worker->conn.ctx = ctx;
    worker->conn.client = worker->pending.socket;
    worker->conn.birth_time = time(nullptr);
    worker->conn.num_bytes_sent = 0;
    serve_connection(worker.get());
    end_serving(ctx, worker.get());
    finish_connection(&worker->conn);
    worker->pending = mg_pending();
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
