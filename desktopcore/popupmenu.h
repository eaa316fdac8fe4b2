// The gear's pop-up menu: its entries and what choosing one does, for every face.
// UI thread only.
#pragma once

#include <string>
#include <vector>

enum class PopupMenuCommand { RecentDocuments, About, LaunchAtStartup, Exit };

struct PopupMenuEntry {
  PopupMenuCommand command;
  std::string text;
  bool checkable;
};

// The entries in the order the menu shows them.
const std::vector<PopupMenuEntry>& PopupMenuEntries();

// The "Launch At Startup" check mark: read from the start-up entry when the window is
// created, toggled by the menu.
class CStartupMenuState {
 public:
  CStartupMenuState();
  bool Checked() const { return present_; }
  // Adds or removes the start-up entry; the mark shows the state after the attempt.
  bool Toggle();

 private:
  bool present_;
};
