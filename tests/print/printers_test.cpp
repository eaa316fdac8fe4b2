// Printer list, per-user default and the reconciliation with the stored preference, the
// default queue's capabilities and the jobs on it, against the real spooler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>

#include "platform/dnssd.h"
#include "platform/network.h"
#include "platform/spooler.h"
#include "print/printers.h"
#include "base/settings.h"
#include "tests/print/printtestsupport.h"
#include "tests/support/servicetest.h"
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

// The default queue as a driverless printer describes it: a monochrome one-sided driver
// of three sheets, and a colour duplex one that offers each sheet also borderless.
TEST_F(PrinterSelectionTest, CapabilitiesComeFromTheDefaultQueuesDriver) {
  SetDefaultPrinterName(kQueueStopped);
  const auto mono = GetDefaultQueueCapabilities().value_or(QueueCapabilities{});
  EXPECT_EQ(std::vector<std::string>({mono.name, mono.makeAndModel, mono.location, mono.info, mono.deviceUri}),
            std::vector<std::string>({kQueueStopped, "Olvaro Test Mono", "Room 7", "Stopped test queue",
                                      "olvarocapture:/var/spool/olvaro-capture/" + kQueueStopped}));
  EXPECT_EQ(mono.media, (std::vector<std::string>{"iso_a5_148x210mm", "iso_a4_210x297mm", "na_letter_8.5x11in"}));
  EXPECT_FALSE(mono.color || mono.duplex);

  SetDefaultPrinterName(kQueueA);
  const auto colour = GetDefaultQueueCapabilities().value_or(QueueCapabilities{});
  EXPECT_TRUE(colour.color && colour.duplex);
  EXPECT_EQ(colour.media.size(), std::set<std::string>(colour.media.begin(), colour.media.end()).size());
  EXPECT_EQ(std::vector<std::string>(colour.media.begin(), colour.media.begin() + std::min<size_t>(3, colour.media.size())),
            (std::vector<std::string>{"na_letter_8.5x11in", "iso_a4_210x297mm", "iso_a5_148x210mm"}));
}

// Jobs in a stopped queue wait, held ones are held, and each can be canceled once; a job
// on a working queue completes.
TEST_F(PrinterSelectionTest, JobsAreFollowedAndCanceledInTheSpooler) {
  const std::string pdf = MakeTestPdf("spooler job");
  SetDefaultPrinterName(kQueueStopped);
  const int waiting = SubmitBytesToDefaultQueue(pdf, "application/pdf", "waiting").jobId;
  const int held = SubmitBytesToDefaultQueue(pdf, "application/pdf", "held", {{"job-hold-until", "indefinite"}}).jobId;
  EXPECT_EQ(GetSpoolerJobState(waiting), SpoolerJobState::kPending);
  EXPECT_EQ(GetSpoolerJobState(held), SpoolerJobState::kHeld);
  for (const int job : {waiting, held, 999999999}) {
    EXPECT_EQ(CancelSpoolerJob(job), job != 999999999);
    EXPECT_EQ(GetSpoolerJobState(job), job != 999999999 ? SpoolerJobState::kCanceled : SpoolerJobState::kUnknown);
    EXPECT_FALSE(CancelSpoolerJob(job));
  }

  SetDefaultPrinterName(kQueueA);
  const int printed = SubmitBytesToDefaultQueue(pdf, "application/pdf", "printed").jobId;
  for (int i = 0; i < 300 && GetSpoolerJobState(printed) != SpoolerJobState::kCompleted; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(GetSpoolerJobState(printed), SpoolerJobState::kCompleted);
}

// Queues that print to this program's own driverless printer, by address, by the queue
// CUPS makes for it or by the printer CUPS sees on the network, are never offered.
TEST_F(PrinterSelectionTest, QueuesToOurOwnDriverlessPrinterAreNotOffered) {
  const std::string uuid = ReadPrinterUuid().substr(9);
  const std::string host = GetSystemHostName();
  const std::pair<std::string, bool> uris[] = {
      {"ipp://[::1]:33300/ipp/print", true},      {"ipp://" + host.substr(0, host.find('.')) + ".local.:33300/ipp/print", true},
      {"http://LOCALHOST:33300/ipp/print", true}, {"ipp://localhost/ipp/print", false},
      {"ipp://192.0.2.77:33300/ipp/print", false}, {"ipp://localhost:33300/ipp/other", false}};
  for (const auto& [uri, own] : uris) EXPECT_EQ(IsOwnDriverlessEndpoint(uri), own) << uri;

  // Queues made by hand: ours is neither listed nor made the default from the preference.
  const std::vector<std::pair<std::string, std::string>> queues{
      {"OlvaroOwnByAddress", "ipp://localhost:33300/ipp/print"},
      {"OlvaroOwnFound", "dnssd://Kitchen%20PC._ipp._tcp.local/?uuid=" + uuid},
      {"OlvaroOtherPort", "ipp://localhost:33301/ipp/print"}};
  for (const auto& [queue, uri] : queues) ASSERT_TRUE(RunAndRead({"lpadmin", "-p", queue, "-v", uri}).has_value());
  std::vector<std::string> printers = GetPrinterList();
  ASSERT_TRUE(WriteSettingString(kPreference, "OlvaroOwnByAddress"));
  EXPECT_EQ(ReconcilePreferredPrinter(), kQueueA);
  for (const auto& [queue, uri] : queues) RunAndRead({"lpadmin", "-x", queue});
  std::erase_if(printers, [](const std::string& name) { return !name.starts_with("OlvaroO"); });
  EXPECT_EQ(printers, std::vector<std::string>{"OlvaroOtherPort"});

  // The printer CUPS sees on the network, before any queue is made for it.
  setenv("AVAHI_COMPAT_NOWARN", "1", 1);
  CDnsSdService service("Olvaro chooser test " + std::to_string(getpid()));
  ASSERT_EQ(service.Register("_ipp._tcp", "local.", FindFreePort(),
                             {{"rp", "ipp/print"}, {"pdl", "application/pdf,image/urf"}, {"URF", "V1.4,W8,RS300"}}),
            0);
  std::string seenAs;
  for (int i = 0; i < 50 && seenAs.empty(); ++i) {
    for (const PrintQueue& queue : ListPrintQueues()) {
      if (queue.deviceUri.find("Olvaro%20chooser%20test") != std::string::npos) seenAs = queue.name;
    }
  }
  ASSERT_FALSE(seenAs.empty()) << "CUPS did not list the printer it sees on the network";
  printers = GetPrinterList();
  EXPECT_EQ(std::count(printers.begin(), printers.end(), seenAs), 0) << seenAs;
}

}  // namespace
