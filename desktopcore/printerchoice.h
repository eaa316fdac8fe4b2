// The printer chooser of the pop-up window: what it lists and what picking does, for
// every face. May block on the print system; UI thread in the program.
#pragma once

#include <string>
#include <vector>

struct PrinterChoice {
  std::vector<std::string> printers;  // the list, in the print system's order
  std::string label;                  // the chosen printer, or "<no printer installed>"
};

// The list and the label for a showing of the window; applies the stored preference.
PrinterChoice LoadPrinterChoice();

// Picking `name`: stores it as the preference and makes it the default printer.
void ChoosePrinter(const std::string& name);
