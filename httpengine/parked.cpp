// Kept connections waiting for their next request among the sockets the accepting
// workers wait on.
#include "httpengine/engine-private.h"

#include "platform/sockets.h"

namespace {

constexpr uint32_t kParkTagMask = 0x7fffffff;  // what a wait-set event carries back

}  // namespace

bool park_connection(mg_ctx* ctx, mg_pending& pending) {
  std::lock_guard lock(ctx->thread_lock);
  return park_locked(ctx, pending);
}

bool park_locked(mg_ctx* ctx, mg_pending& pending) {
  // Stopping, the listener closes what is parked once: nothing may come after it.
  if (ctx->stop_flag.load() != 0) return false;
  ctx->park_tags = (ctx->park_tags + 1) & kParkTagMask;
  pending.park_tag = ctx->park_tags;
  // Armed under the lock: the thread its event wakes finds it parked.
  const int sock = pending.socket.sock;
  if (!ctx->waits.ArmConnection(sock, pending.park_tag)) return false;
  ctx->parked.insert_or_assign(sock, std::move(pending));
  pending.socket.sock = -1;
  return true;
}

bool take_parked(mg_ctx* ctx, const ConnectionEvent& event, mg_pending& pending) {
  std::lock_guard lock(ctx->thread_lock);
  auto found = ctx->parked.find(event.sock);
  if (found == ctx->parked.end() || found->second.park_tag != event.tag) return false;
  pending = std::move(found->second);
  ctx->parked.erase(found);
  return true;
}

std::chrono::steady_clock::time_point close_parked(mg_ctx* ctx, bool all,
                                                   std::chrono::steady_clock::time_point later) {
  const auto now = std::chrono::steady_clock::now();
  std::vector<mg_pending> due;
  {
    std::lock_guard lock(ctx->thread_lock);
    for (auto entry = ctx->parked.begin(); entry != ctx->parked.end();) {
      mg_pending& pending = entry->second;
      if (!all && now < pending.head_due) {
        later = std::min(later, pending.head_due);
        ++entry;
        continue;
      }
      due.push_back(std::move(pending));
      entry = ctx->parked.erase(entry);
    }
  }
  for (mg_pending& pending : due) drop_pending(ctx, pending);
  return later;
}
