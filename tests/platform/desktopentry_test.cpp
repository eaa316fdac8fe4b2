// Exec values of desktop entries, for the characters a desktop-entry reader at hand
// cannot check (settings_test runs the others through GLib).
#include <gtest/gtest.h>

#include "platform/linux/desktopentry.h"

namespace {

TEST(DesktopEntry, ExecValueQuotesEscapesAndDoublesPercent) {
  EXPECT_EQ(MakeExecValue({"/usr/bin/olvaro", "/autorun"}), "/usr/bin/olvaro /autorun");
  EXPECT_EQ(MakeExecValue({"/opt/100% sure/olvaro", "/autorun"}), "\"/opt/100%% sure/olvaro\" /autorun");
  EXPECT_EQ(MakeExecValue({"/opt/50%/olvaro"}), "/opt/50%%/olvaro");
  // Quoting first ("\\" for a backslash), then string escaping doubles each backslash again.
  EXPECT_EQ(MakeExecValue({"/a\\b"}), "\"/a\\\\\\\\b\"");
  EXPECT_EQ(MakeExecValue({"/line\nbreak"}), "\"/line\\nbreak\"");
  EXPECT_EQ(MakeExecValue({""}), "\"\"");
  EXPECT_EQ(EscapeDesktopEntryString("a\\b\tc"), "a\\\\b\\tc");
}

}  // namespace
