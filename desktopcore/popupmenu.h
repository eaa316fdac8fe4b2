// The gear's pop-up menu: its entries and what choosing one does, for every face.
// UI thread only.
#pragma once

#include <string>
#include <vector>

enum class PopupMenuCommand { RecentDocuments, About, LaunchAtStartup, ShareWithAllPhones, Exit };

struct PopupMenuEntry {
  PopupMenuCommand command;
  std::string text;
  bool checkable;
};

// The entries in the order the menu shows them. Where the system's DNS-SD cannot announce
// the subtypes iPhones look for, the sharing entry says so.
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

// The "Share with all phones" check mark: read from the settings when the window is
// created, toggled by the menu.
class CShareMenuState {
 public:
  CShareMenuState();
  bool Checked() const { return on_; }
  // Stores the other choice; the mark shows what is stored after the attempt.
  bool Toggle();

 private:
  bool on_;
};
