// Kept connections waiting for their next request among the sockets the accepting
// workers wait on. A connection is watched from its first wait to its close; an event
// for it while it is not parked (being served, or at the listener) is noted, and told
// again when it is parked next, since the bytes it stood for may already be read.
#include "httpengine/engine-private.h"

namespace {

constexpr uint32_t kWatchTagMask = 0x7fffffff;  // what a wait-set event carries back

// Under the parked lock: the parked connection an event names, or end() when it is not
// parked, and then the event is noted for the connection's next park.
std::unordered_map<int, mg_pending>::iterator find_parked(mg_ctx* ctx, const ConnectionEvent& event) {
  const auto found = ctx->parked.find(event.sock);
  if (found != ctx->parked.end() && found->second.watch_tag == event.tag) return found;
  ctx->missed[event.sock] = event.tag;
  return ctx->parked.end();
}

}  // namespace

bool park_connection(mg_ctx* ctx, mg_pending& pending) {
  const int sock = pending.socket.sock;
  std::lock_guard lock(ctx->parked_lock);
  // Stopping, the listener closes what is parked once: nothing may come after it.
  if (ctx->stop_flag.load() != 0) return false;
  if (pending.watch_tag == 0) {
    ctx->watch_tags = (ctx->watch_tags + 1) & kWatchTagMask;
    if (ctx->watch_tags == 0) ++ctx->watch_tags;
    if (!ctx->waits.WatchConnection(sock, ctx->watch_tags)) return false;
    pending.watch_tag = ctx->watch_tags;
  }
  // Bytes left in the socket by a read that took less than all, or that came while the
  // connection was served and another thread heard of them, are told again.
  const auto missed = ctx->missed.find(sock);
  const bool told = missed != ctx->missed.end() && missed->second == pending.watch_tag;
  if (missed != ctx->missed.end()) ctx->missed.erase(missed);
  if (told || !pending.drained) ctx->waits.Recheck(sock, pending.watch_tag);
  ctx->parked.insert_or_assign(sock, std::move(pending));
  pending.socket.sock = -1;
  return true;
}

bool take_parked(mg_ctx* ctx, const ConnectionEvent& event, mg_pending& pending) {
  std::lock_guard lock(ctx->parked_lock);
  const auto found = find_parked(ctx, event);
  if (found == ctx->parked.end()) return false;
  pending = std::move(found->second);
  ctx->parked.erase(found);
  return true;
}

void recheck_parked(mg_ctx* ctx, const ConnectionEvent& event) {
  std::lock_guard lock(ctx->parked_lock);
  if (find_parked(ctx, event) != ctx->parked.end()) ctx->waits.Recheck(event.sock, event.tag);
}

std::chrono::steady_clock::time_point close_parked(mg_ctx* ctx, bool all,
                                                   std::chrono::steady_clock::time_point later) {
  const auto now = std::chrono::steady_clock::now();
  std::vector<mg_pending> due;
  {
    std::lock_guard lock(ctx->parked_lock);
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
    if (all) ctx->missed.clear();
  }
  for (mg_pending& pending : due) drop_pending(ctx, pending);
  return later;
}
