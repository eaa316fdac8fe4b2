#include "desktopcore/authcoderequests.h"

#include <thread>

#include "desktopcore/popuptexts.h"

CAuthCodeRequests::CAuthCodeRequests(std::function<std::string()> fetch, std::shared_ptr<UiMailbox> mailbox)
    : fetch_(std::move(fetch)), mailbox_(std::move(mailbox)) {}

void CAuthCodeRequests::Request(std::function<void(const std::string& text)> show) {
  // The counter is shared so that an answer arriving after the window has gone finds it
  // still there; the mailbox drops that answer anyway.
  std::thread([fetch = fetch_, mailbox = mailbox_, latest = latest_, showing = *latest_, show = std::move(show)] {
    const std::string text = AuthCodeLabelText(fetch());
    mailbox->Post([latest, showing, show, text] {
      if (*latest == showing) show(text);
    });
  }).detach();
}
