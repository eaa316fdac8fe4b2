#include "desktopcore/popupmenu.h"

#include "base/settings.h"
#include "platform/dnssd.h"

const std::vector<PopupMenuEntry>& PopupMenuEntries() {
  static const std::vector<PopupMenuEntry> entries{
      {PopupMenuCommand::RecentDocuments, "Recent documents\u2026", false},
      {PopupMenuCommand::About, "About", false},
      {PopupMenuCommand::LaunchAtStartup, "Launch At Startup", true},
      {PopupMenuCommand::ShareWithAllPhones,
       CanRegisterSubtypes() ? "Share with all phones (AirPrint, Mopria)"
                             : "Share with all phones (AirPrint, Mopria) \u2014 not iPhones: install Bonjour",
       true},
      {PopupMenuCommand::Exit, "Exit", false},
  };
  return entries;
}

CStartupMenuState::CStartupMenuState() : present_(IsStartupEntryPresent()) {}

bool CStartupMenuState::Toggle() {
  present_ = ToggleStartupEntry(present_);
  return present_;
}

CShareMenuState::CShareMenuState() : on_(ReadShareWithAllPhones()) {}

bool CShareMenuState::Toggle() {
  if (WriteShareWithAllPhones(!on_)) on_ = !on_;
  return on_;
}
