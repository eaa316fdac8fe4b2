// A stand-in for the program in start-up entry tests: "add" adds the entry for this
// executable; started from the entry ("/autorun") it writes its path and arguments to
// the file $OLVARO_LAUNCH_MARKER.
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/executable.h"
#include "base/settings.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string command = argv[1];
  if (command == "add") return ToggleStartupEntry(false) ? 0 : 1;
  const char* marker = std::getenv("OLVARO_LAUNCH_MARKER");
  if (!marker) return 2;
  std::ofstream(marker) << GetExecutablePath() << '\n' << command << '\n';
  return 0;
}
