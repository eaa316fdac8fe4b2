#include "desktopcore/popupmenu.h"

#include "base/settings.h"

const std::vector<PopupMenuEntry>& PopupMenuEntries() {
  static const std::vector<PopupMenuEntry> entries{
      {PopupMenuCommand::RecentDocuments, "Recent documents\u2026", false},
      {PopupMenuCommand::About, "About", false},
      {PopupMenuCommand::LaunchAtStartup, "Launch At Startup", true},
      {PopupMenuCommand::Exit, "Exit", false},
  };
  return entries;
}

CStartupMenuState::CStartupMenuState() : present_(IsStartupEntryPresent()) {}

bool CStartupMenuState::Toggle() {
  present_ = ToggleStartupEntry(present_);
  return present_;
}
