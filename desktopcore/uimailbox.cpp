#include "desktopcore/uimailbox.h"

namespace {

// Runs a callback when the last copy of the queued work is gone, whether the work ran
// or was thrown away unrun.
class OnRelease {
 public:
  explicit OnRelease(std::function<void()> callback) : callback_(std::move(callback)) {}
  OnRelease(const OnRelease&) = delete;
  OnRelease& operator=(const OnRelease&) = delete;
  ~OnRelease() { callback_(); }

 private:
  std::function<void()> callback_;
};

}  // namespace

std::shared_ptr<UiMailbox> UiMailbox::Create(UiThreadPoster postToUiThread) {
  return std::shared_ptr<UiMailbox>(new UiMailbox(std::move(postToUiThread)));
}

void UiMailbox::Post(std::function<void()> work) {
  // The lock is held while posting so that Close, which the window calls before the
  // UI thread's event loop goes away, never races with a post to it.
  std::lock_guard lock(mutex_);
  if (!open_) return;
  postToUiThread_([self = shared_from_this(), work = std::move(work)] {
    if (self->IsOpen()) work();
  });
}

void UiMailbox::Call(std::function<void()> work) {
  auto finished = std::make_shared<bool>(false);
  {
    auto release =
        std::make_shared<OnRelease>([self = shared_from_this(), finished] { self->FinishCall(*finished); });
    Post([work = std::move(work), release] { work(); });
  }
  std::unique_lock lock(callMutex_);
  callDone_.wait(lock, [&] { return *finished || closed_; });
}

void UiMailbox::FinishCall(bool& finished) {
  std::lock_guard lock(callMutex_);
  finished = true;
  callDone_.notify_all();
}

void UiMailbox::Close() {
  {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  std::lock_guard lock(callMutex_);
  closed_ = true;
  callDone_.notify_all();
}

bool UiMailbox::IsOpen() {
  std::lock_guard lock(mutex_);
  return open_;
}
