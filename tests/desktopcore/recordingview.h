// What the pop-up tests stand in for: a start-up that records what it is asked, fixed
// sources, and a view that records what the controller tells it, with a UI thread that is
// the test's own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "desktopcore/desktopstartup.h"
#include "desktopcore/popupview.h"
#include "desktopcore/uimailbox.h"

// Records what the window asks of the start-up and keeps what it hands over.
class RecordingStartup : public DesktopStartup {
 public:
  void Start(std::shared_ptr<CCloudStatusSink> cloudStatus, std::function<void()> offerDownload) override;
  void Stop() override;

  int starts = 0;
  int stops = 0;
  std::shared_ptr<CCloudStatusSink> sink;
  std::function<void()> offer;
};

// Sources with fixed addresses and an auth code the test decides.
DesktopSources FixedSources(std::vector<std::string> addresses, std::string authCode = "");

// Work posted to the "UI thread", run when the test says so on its own thread.
class TestUiThread {
 public:
  UiMailbox::UiThreadPoster Poster();
  // Runs posted work until `done` holds; false when it did not within `limit`.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

 private:
  std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
  std::shared_ptr<std::condition_variable> posted_ = std::make_shared<std::condition_variable>();
  std::shared_ptr<std::deque<std::function<void()>>> queue_ = std::make_shared<std::deque<std::function<void()>>>();
};

// A clock the test moves by hand.
struct TestClock {
  std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
  std::function<std::chrono::steady_clock::time_point()> Source() {
    return [this] { return now; };
  }
};

class RecordingView : public PopupView {
 public:
  bool IsShown() const override { return shown; }
  void Place(const PopupPlacement& where) override { placement = where; }
  void Show() override;
  void Hide() override { shown = false; }
  PopupAnchor DefaultAnchor() const override { return defaultAnchor; }
  void SetLabel(PopupLabel label, const std::string& text) override { labels[label] = text; }
  void FillPrinterList(const std::vector<std::string>& names) override { printers = names; }
  bool IsPrinterListShown() const override { return listShown; }
  void ShowPrinterList(bool shown_) override { listShown = shown_; }
  void StartTimer(PopupTimer timer, int milliseconds) override { timers[timer] = milliseconds; }
  void StopTimer(PopupTimer timer) override { timers.erase(timer); }
  void SetMenuChecked(PopupMenuCommand command, bool checked) override {
    (command == PopupMenuCommand::ShareWithAllPhones ? shareChecked : startupChecked) = checked;
  }
  void ShowNotice(const std::string& text) override { notices.push_back(text); }
  bool AskNewVersion() override;
  void ShowAbout() override { ++abouts; }
  void ShowRecentDocuments() override { ++recentDocuments; }
  void OpenUrl(const std::string& url) override { urls.push_back(url); }
  void Quit() override { ++quits; }

  // Called where a face's window would report that it becomes visible.
  std::function<void()> onShowing;
  bool shown = false;
  std::optional<PopupPlacement> placement;
  PopupAnchor defaultAnchor;
  std::map<PopupLabel, std::string> labels;
  std::vector<std::string> printers;
  bool listShown = false;
  std::map<PopupTimer, int> timers;
  std::optional<bool> startupChecked;
  std::optional<bool> shareChecked;
  std::vector<std::string> notices;
  bool downloadAnswer = false;  // what the user answers the new-version notice
  int newVersionNotices = 0;
  int abouts = 0;
  int recentDocuments = 0;
  std::vector<std::string> urls;
  int quits = 0;
};
