// What a face does for the pop-up controller: it draws what it is told and reports where
// its tray icon and the taskbar are. It decides nothing. Called on the UI thread only.
#pragma once

#include <string>
#include <vector>

#include "desktopcore/placement.h"
#include "desktopcore/popupmenu.h"

// The labels whose text changes.
enum class PopupLabel { Printer, Addresses, AuthCode, Connection };

// The pop-up's timers: the address refresh and the auth code's delay after a showing.
enum class PopupTimer { AddressRefresh, AuthCode };

// A point beside the taskbar that a showing is placed for.
struct PopupAnchor {
  int x = 0;
  int y = 0;
  TaskbarPosition taskbar;
};

class PopupView {
 public:
  virtual ~PopupView() = default;

  virtual bool IsShown() const = 0;
  // Moves the window to the placement and shows its one arrow there; the window keeps that
  // place, whatever moves it, until the next placement.
  virtual void Place(const PopupPlacement& placement) = 0;
  // Shows the window in front and gives it the activation.
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // Where a showing that no tray click placed goes (a later start asked for the window).
  virtual PopupAnchor DefaultAnchor() const = 0;

  virtual void SetLabel(PopupLabel label, const std::string& text) = 0;
  virtual void FillPrinterList(const std::vector<std::string>& printers) = 0;
  virtual bool IsPrinterListShown() const = 0;
  // Opening the list leaves no item selected, so that every pick is a change.
  virtual void ShowPrinterList(bool shown) = 0;

  // Starts `timer` anew, firing every `milliseconds` until stopped.
  virtual void StartTimer(PopupTimer timer, int milliseconds) = 0;
  virtual void StopTimer(PopupTimer timer) = 0;

  // The check mark of a checkable gear-menu entry.
  virtual void SetMenuChecked(PopupMenuCommand command, bool checked) = 0;
  // A notification from the tray icon.
  virtual void ShowNotice(const std::string& text) = 0;
  // The modal new-version notice, above the pop-up; true when the user chose Download.
  virtual bool AskNewVersion() = 0;
  virtual void ShowAbout() = 0;
  virtual void ShowRecentDocuments() = 0;
  // Opens `url` in the user's browser.
  virtual void OpenUrl(const std::string& url) = 0;
  // Ends the program's event loop.
  virtual void Quit() = 0;
};
