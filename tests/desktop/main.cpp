// The desktop tests run in one private per-user tree (libcups reads HOME once per
// thread) with Qt's offscreen platform unless a display is asked for.
#include <QApplication>

#include <sys/stat.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/support/testenv.h"

int main(int argc, char** argv) {
  TestEnvironment environment;
  chmod((environment.Root() + "runtime").c_str(), 0700);  // Qt insists on a private one
  unsetenv("LPDEST");
  unsetenv("PRINTER");
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
