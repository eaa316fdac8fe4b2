// Hands work from other threads (the cloud poller, the update check, the auth-code
// fetch) to the UI thread for as long as the window that created the mailbox is open.
// The face supplies how work reaches its UI thread (a queued call, a window message).
// Post and Call may be used from any thread but the UI thread; Close only on the UI
// thread. Workers that outlive the window keep the mailbox alive through shared_ptr.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class UiMailbox : public std::enable_shared_from_this<UiMailbox> {
 public:
  // Queues a function to run later on the UI thread; callable from any thread.
  using UiThreadPoster = std::function<void(std::function<void()>)>;

  static std::shared_ptr<UiMailbox> Create(UiThreadPoster postToUiThread);

  // Queues `work` for the UI thread and returns at once; dropped after Close.
  void Post(std::function<void()> work);

  // Runs `work` on the UI thread and waits until it has run, or until the mailbox
  // closes. The UI thread never waits for the caller, so this cannot deadlock it.
  void Call(std::function<void()> work);

  // From now on nothing more runs, also work that is already queued, and every Call
  // still waiting returns.
  void Close();

 private:
  explicit UiMailbox(UiThreadPoster postToUiThread) : postToUiThread_(std::move(postToUiThread)) {}
  bool IsOpen();
  void FinishCall(bool& finished);

  const UiThreadPoster postToUiThread_;
  std::mutex mutex_;  // guards open_; held while posting
  bool open_ = true;

  std::mutex callMutex_;  // guards the callers' finished flags and closed_
  std::condition_variable callDone_;
  bool closed_ = false;
};
