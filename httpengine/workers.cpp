// The connection queue and the worker threads that serve it.
#include "httpengine/engine-private.h"

#include <cerrno>
#include <cstdlib>

namespace {

void release_address(mg_ctx* ctx, uint32_t ip) {
  std::lock_guard lock(ctx->thread_lock);
  auto held = ctx->connections_per_address.find(ip);
  if (held != ctx->connections_per_address.end() && --held->second == 0) ctx->connections_per_address.erase(held);
}

// Takes the next queued connection; false when none came within the idle time.
bool take_socket(mg_ctx* ctx, mg_socket& socket) {
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
  socket = ctx->queue[ctx->queue_tail % kQueueSize];
  ++ctx->queue_tail;
  while (ctx->queue_tail > kQueueSize) {
    ctx->queue_tail -= kQueueSize;
    ctx->queue_head -= kQueueSize;
  }
  ctx->queue_not_full.notify_one();
  return true;
}

}  // namespace

bool claim_address(mg_ctx* ctx, uint32_t ip) {
  std::lock_guard lock(ctx->thread_lock);
  int& held = ctx->connections_per_address[ip];
  if (held == kMaxConnectionsPerAddress) return false;
  ++held;
  return true;
}

void queue_socket(mg_ctx* ctx, const mg_socket& socket) {
  std::unique_lock lock(ctx->thread_lock);
  ctx->queue_not_full.wait(lock, [ctx] { return ctx->queue_head - ctx->queue_tail < kQueueSize; });
  ctx->queue[ctx->queue_head % kQueueSize] = socket;
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
  ctx->queue_not_empty.notify_one();
}

void* worker_thread(void* arg) {
  auto* ctx = static_cast<mg_ctx*>(arg);
  auto worker = std::make_unique<mg_worker_conn>();
  mg_socket socket;
  while (take_socket(ctx, socket)) {
    worker->conn.ctx = ctx;
    worker->conn.client = socket;
    worker->conn.birth_time = time(nullptr);
    worker->conn.num_bytes_sent = 0;
    serve_connection(worker.get());
    finish_connection(&worker->conn);
    release_address(ctx, socket.remote.ip);
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
