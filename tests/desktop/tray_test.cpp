// The tray icon on a real X server: a private Xvfb display with trayer as the tray host.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "tests/support/testenv.h"
#include "tests/support/xsession.h"

namespace {

TEST(TrayOnXvfb, IconIsEmbeddedAndClickShowsTheWindow) {
  SKIP_WITHOUT_SERVICE(XSessionWithTray::Available(), "Xvfb or trayer is not installed (see scripts/packages.txt)");
  XSessionWithTray session;
  ASSERT_TRUE(session.Started());

  const pid_t probe = SpawnWithEnvironment(
      {OLVARO_TRAY_PROBE},
      session.Environment({"QT_QPA_PLATFORM=xcb", "LSAN_OPTIONS=suppressions=" OLVARO_LSAN_SUPPRESSIONS}));
  ASSERT_GT(probe, 0);
  int status = 0;
  ASSERT_EQ(waitpid(probe, &status, 0), probe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "see the probe's messages above";
}

}  // namespace
