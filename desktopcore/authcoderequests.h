// The auth code shown with each showing of the pop-up window. The relay may take as long
// as it likes, so the request runs on a worker of its own and never on the UI thread;
// only the answer of the latest showing is shown. UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "desktopcore/uimailbox.h"

class CAuthCodeRequests {
 public:
  // `fetch` runs on workers and returns the code ("" when there is none); answers reach
  // the UI thread through `mailbox`.
  CAuthCodeRequests(std::function<std::string()> fetch, std::shared_ptr<UiMailbox> mailbox);

  // A new showing: answers still on their way for earlier ones will be dropped.
  void NewShowing() { ++*latest_; }

  // Starts a request; `show` gets the label text on the UI thread unless a newer
  // showing came first.
  void Request(std::function<void(const std::string& text)> show);

 private:
  std::function<std::string()> fetch_;
  std::shared_ptr<UiMailbox> mailbox_;
  std::shared_ptr<unsigned> latest_ = std::make_shared<unsigned>(0);  // the latest showing
};
