// Starting and stopping an engine context.
#include "httpengine/engine-private.h"
#include "platform/executable.h"
#include "platform/sockets.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <thread>

namespace {

// The document root by default: the executable's folder, without its final separator.
// Without it the root stays empty and no file is served: the working folder, which may
// be anything, is no fallback.
std::string executable_folder(mg_ctx* ctx) {
  const std::string folder = GetExecutableFolder();
  if (folder.size() > 1) return folder.substr(0, folder.size() - 1);
  if (!folder.empty()) return folder;
  log_error(ctx, nullptr, "%s: getcwd: %s", "mg_start", strerror(errno));
  return std::string();
}

}  // namespace

mg_ctx* mg_start() {
  auto ctx = std::unique_ptr<mg_ctx>(new (std::nothrow) mg_ctx);
  if (!ctx) {
    fprintf(stderr, "mg_start: cannot allocate the engine context\n");
    return nullptr;
  }
  if (!set_default_options(ctx.get())) return nullptr;
  if (!StartSocketLibrary()) {
    log_error(ctx.get(), nullptr, "%s: the socket library cannot be started", "mg_start");
    return nullptr;
  }

  std::string& root = ctx->options[kOptionRoot];
  if (root.empty()) root = executable_folder(ctx.get());

  if (!start_thread(listener_thread, ctx.get())) {
    log_error(ctx.get(), nullptr, "Cannot start thread: %d", errno);
    return nullptr;
  }
  return ctx.release();
}

void mg_stop(mg_ctx* ctx) {
  ctx->stop_flag.store(1);
  ctx->wake.Wake();
  while (ctx->stop_flag.load() != 2) std::this_thread::sleep_for(kStopPollStep);
  delete ctx;
}
