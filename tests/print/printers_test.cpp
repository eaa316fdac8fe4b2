// Printer list, per-user default and the reconciliation with the stored preference,
// against the real spooler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "print/printers.h"
#include "base/settings.h"
#include "tests/print/printtestsupport.h"
#include "tests/support/testenv.h"

namespace {

const char kPreference[] = "preferredPrinterName";

using PrinterSelectionTest = QueueATest;

TEST_F(PrinterSelectionTest, ListHoldsTheQueuesInTheSpoolersOrder) {
  const auto printers = GetPrinterList();
  const auto a = std::find(printers.begin(), printers.end(), kQueueA);
  const auto b = std::find(printers.begin(), printers.end(), kQueueB);
  ASSERT_NE(a, printers.end());
  ASSERT_NE(b, printers.end());
  EXPECT_LT(a, b);
}

TEST_F(PrinterSelectionTest, DefaultIsThisUsersAndEmptyNameChangesNothing) {
  SetDefaultPrinterName(kQueueB);
  EXPECT_EQ(GetDefaultPrinterName(), kQueueB);
  const auto lpoptions = ReadTestFile(std::string(getenv("HOME")) + "/.cups/lpoptions");
  ASSERT_TRUE(lpoptions.has_value());
  EXPECT_NE(lpoptions->find("Default " + kQueueB), std::string::npos);

  SetDefaultPrinterName("");
  EXPECT_EQ(GetDefaultPrinterName(), kQueueB);
  SetDefaultPrinterName("NoSuchPrinter");
  EXPECT_EQ(GetDefaultPrinterName(), kQueueB);
}

TEST_F(PrinterSelectionTest, FirstRunWithoutPreferenceKeepsTheDefault) {
  EXPECT_EQ(ReconcilePreferredPrinter(), kQueueA);
  EXPECT_EQ(GetDefaultPrinterName(), kQueueA);
}

TEST_F(PrinterSelectionTest, PreferenceDifferingOnlyInCaseIsAppliedAsStored) {
  ASSERT_TRUE(WriteSettingString(kPreference, "olvarotestb"));
  EXPECT_EQ(ReconcilePreferredPrinter(), "olvarotestb");
  EXPECT_EQ(GetDefaultPrinterName(), kQueueB);
}

TEST_F(PrinterSelectionTest, PreferenceEqualToTheDefaultIsShown) {
  ASSERT_TRUE(WriteSettingString(kPreference, kQueueA));
  EXPECT_EQ(ReconcilePreferredPrinter(), kQueueA);
  EXPECT_EQ(GetDefaultPrinterName(), kQueueA);
}

TEST_F(PrinterSelectionTest, RemovedPrinterIsIgnoredAndTheShownNameIsTheDefault) {
  ASSERT_TRUE(WriteSettingString(kPreference, "PrinterThatWasRemoved"));
  EXPECT_EQ(ReconcilePreferredPrinter(), kQueueA);
  EXPECT_EQ(GetDefaultPrinterName(), kQueueA);
  EXPECT_EQ(ReadSettingString(kPreference), "PrinterThatWasRemoved");
}

TEST_F(PrinterSelectionTest, NoPrinterAtAllChangesNothing) {
  ASSERT_TRUE(WriteSettingString(kPreference, kQueueB));
  // libcups reads the server address once per thread: a new thread sees a spooler
  // that does not exist, hence no printers.
  const std::string deadServer = PrintTestRoot() + "no-cupsd.sock";
  setenv("CUPS_SERVER", deadServer.c_str(), 1);
  std::vector<std::string> printers;
  std::string shown = "unset";
  std::thread([&] {
    printers = GetPrinterList();
    shown = ReconcilePreferredPrinter();
  }).join();
  unsetenv("CUPS_SERVER");

  EXPECT_TRUE(printers.empty());
  EXPECT_EQ(shown, "");
  EXPECT_EQ(GetDefaultPrinterName(), kQueueA);
}

}  // namespace
