#include "tests/desktopcore/recordingview.h"

void RecordingStartup::Start(std::shared_ptr<CCloudStatusSink> cloudStatus, std::function<void()> offerDownload) {
  ++starts;
  sink = std::move(cloudStatus);
  offer = std::move(offerDownload);
}

void RecordingStartup::Stop() { ++stops; }

DesktopSources FixedSources(std::vector<std::string> addresses, std::string authCode) {
  DesktopSources sources;
  sources.localAddresses = [addresses] { return addresses; };
  sources.authCode = [authCode] { return authCode; };
  return sources;
}

UiMailbox::UiThreadPoster TestUiThread::Poster() {
  return [mutex = mutex_, posted = posted_, queue = queue_](std::function<void()> work) {
    std::lock_guard lock(*mutex);
    queue->push_back(std::move(work));
    posted->notify_all();
  };
}

bool TestUiThread::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::function<void()> work;
    {
      // Short waits: `done` may turn true on another thread without any work posted.
      std::unique_lock lock(*mutex_);
      if (!posted_->wait_for(lock, std::chrono::milliseconds(10), [this] { return !queue_->empty(); })) continue;
      work = std::move(queue_->front());
      queue_->pop_front();
    }
    work();
  }
  return true;
}

void RecordingView::Show() {
  if (shown) return;
  shown = true;
  if (onShowing) onShowing();
}

bool RecordingView::AskNewVersion() {
  ++newVersionNotices;
  return downloadAnswer;
}
