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

// The default queue as a driverless printer describes it, for a colour duplex queue
// whose driver offers each size also borderless, and a monochrome one-sided one.
TEST_F(PrinterSelectionTest, CapabilitiesComeFromTheDefaultQueuesDriver) {
  SetDefaultPrinterName(kQueueStopped);
  const auto mono = GetDefaultQueueCapabilities();
  ASSERT_TRUE(mono.has_value());
  EXPECT_EQ(mono->name, kQueueStopped);
  EXPECT_EQ(mono->makeAndModel, "Olvaro Test Mono");
  EXPECT_EQ(mono->location, "Room 7");
  EXPECT_EQ(mono->info, "Stopped test queue");
  EXPECT_EQ(mono->deviceUri, "olvarocapture:/var/spool/olvaro-capture/" + kQueueStopped);
  EXPECT_EQ(mono->media, (std::vector<std::string>{"iso_a4_210x297mm", "iso_a5_148x210mm", "na_letter_8.5x11in"}));
  EXPECT_FALSE(mono->color);
  EXPECT_FALSE(mono->duplex);

  SetDefaultPrinterName(kQueueA);
  const auto colour = GetDefaultQueueCapabilities();
  ASSERT_TRUE(colour.has_value());
  EXPECT_EQ(colour->makeAndModel, "Generic PDF Printer");
  EXPECT_TRUE(colour->color);
  EXPECT_TRUE(colour->duplex);
  ASSERT_FALSE(colour->media.empty());
  EXPECT_EQ(colour->media.front(), "na_letter_8.5x11in");
  EXPECT_EQ(std::set<std::string>(colour->media.begin(), colour->media.end()).size(), colour->media.size());
  for (const char* name : {"iso_a4_210x297mm", "na_legal_8.5x14in", "iso_dl_110x220mm"}) {
    EXPECT_NE(std::find(colour->media.begin(), colour->media.end(), name), colour->media.end()) << name;
  }
  for (const std::string& name : colour->media) EXPECT_EQ(name.find("fullbleed"), std::string::npos) << name;
}

// Jobs in a stopped queue wait, held ones are held, and both can be canceled once; a job
// on a working queue completes.
TEST_F(PrinterSelectionTest, JobsAreFollowedAndCanceledInTheSpooler) {
  const std::string pdf = MakeTestPdf("spooler job");
  SetDefaultPrinterName(kQueueStopped);
  const SubmitResult waiting = SubmitBytesToDefaultQueue(pdf, "application/pdf", "waiting");
  const SubmitResult held = SubmitBytesToDefaultQueue(pdf, "application/pdf", "held", {{"job-hold-until", "indefinite"}});
  ASSERT_GT(waiting.jobId, 0);
  ASSERT_GT(held.jobId, 0);
  EXPECT_EQ(GetSpoolerJobState(waiting.jobId), SpoolerJobState::kPending);
  EXPECT_EQ(GetSpoolerJobState(held.jobId), SpoolerJobState::kHeld);
  for (const int job : {waiting.jobId, held.jobId}) {
    EXPECT_TRUE(CancelSpoolerJob(job));
    EXPECT_EQ(GetSpoolerJobState(job), SpoolerJobState::kCanceled);
    EXPECT_FALSE(CancelSpoolerJob(job));
  }
  EXPECT_EQ(GetSpoolerJobState(999999999), SpoolerJobState::kUnknown);
  EXPECT_FALSE(CancelSpoolerJob(999999999));

  SetDefaultPrinterName(kQueueA);
  const QueueCapture capture(kQueueA);
  const SubmitResult printed = SubmitBytesToDefaultQueue(pdf, "application/pdf", "printed");
  ASSERT_GT(printed.jobId, 0);
  EXPECT_EQ(capture.WaitForJobs(1, std::chrono::seconds(30)).size(), 1u);
  SpoolerJobState state = GetSpoolerJobState(printed.jobId);
  for (int i = 0; i < 100 && state != SpoolerJobState::kCompleted; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    state = GetSpoolerJobState(printed.jobId);
  }
  EXPECT_EQ(state, SpoolerJobState::kCompleted);
}

// Queues that print to this program's own driverless printer, by address, by the queue
// CUPS makes for it or by the printer CUPS sees on the network, are never offered.
TEST_F(PrinterSelectionTest, QueuesToOurOwnDriverlessPrinterAreNotOffered) {
  const std::string uuid = ReadPrinterUuid().substr(9);
  const std::string host = GetSystemHostName();
  const struct {
    std::string uri;
    bool own;
  } uris[] = {
      {"ipp://localhost:33300/ipp/print", true},
      {"ipp://127.0.0.1:33300/ipp/print", true},
      {"ipp://[::1]:33300/ipp/print", true},
      {"ipp://" + host.substr(0, host.find('.')) + ".local.:33300/ipp/print", true},
      {"http://LOCALHOST:33300/ipp/print", true},
      {"dnssd://Kitchen%20PC._ipp._tcp.local/?uuid=" + uuid, true},
      {"ipp://localhost:33301/ipp/print", false},
      {"ipp://localhost/ipp/print", false},
      {"ipp://localhost:33300/ipp/other", false},
      {"ipp://192.0.2.77:33300/ipp/print", false},
      {"dnssd://Kitchen%20PC._ipp._tcp.local/?uuid=0f3c1c2e-7b55-4e0c-9d55-3c4ab1a2c0de", false},
      {"olvarocapture:/var/spool/olvaro-capture/OlvaroTestA", false},
  };
  for (const auto& [uri, own] : uris) EXPECT_EQ(IsOwnDriverlessEndpoint(uri), own) << uri;

  // Queues made by hand: ours is neither listed nor made the default from the preference.
  const std::vector<std::pair<std::string, std::string>> queues{
      {"OlvaroOwnByAddress", "ipp://localhost:33300/ipp/print"},
      {"OlvaroOwnFound", "dnssd://Kitchen%20PC._ipp._tcp.local/?uuid=" + uuid},
      {"OlvaroOtherPort", "ipp://localhost:33301/ipp/print"}};
  for (const auto& [queue, uri] : queues) ASSERT_TRUE(RunAndRead({"lpadmin", "-p", queue, "-v", uri}).has_value());
  const std::vector<std::string> printers = GetPrinterList();
  ASSERT_TRUE(WriteSettingString(kPreference, "OlvaroOwnByAddress"));
  EXPECT_EQ(ReconcilePreferredPrinter(), kQueueA);
  for (const auto& [queue, uri] : queues) RunAndRead({"lpadmin", "-x", queue});
  EXPECT_EQ(std::count(printers.begin(), printers.end(), "OlvaroOwnByAddress"), 0);
  EXPECT_EQ(std::count(printers.begin(), printers.end(), "OlvaroOwnFound"), 0);
  EXPECT_EQ(std::count(printers.begin(), printers.end(), "OlvaroOtherPort"), 1);

  // The printer CUPS sees on the network, before any queue is made for it.
  setenv("AVAHI_COMPAT_NOWARN", "1", 1);
  const std::string name = "Olvaro chooser test " + std::to_string(getpid());
  CDnsSdService service(name);
  ASSERT_EQ(service.Register("_ipp._tcp", "local.", FindFreePort(),
                             {{"rp", "ipp/print"}, {"ty", "Test"}, {"pdl", "application/pdf,image/urf"},
                              {"URF", "V1.4,W8,SRGB24,RS300"}},
                             {"_print", "_universal"}),
            0);
  std::string seenAs;
  for (int i = 0; i < 50 && seenAs.empty(); ++i) {
    for (const PrintQueue& queue : ListPrintQueues()) {
      if (queue.deviceUri.find("Olvaro%20chooser%20test") != std::string::npos) seenAs = queue.name;
    }
  }
  ASSERT_FALSE(seenAs.empty()) << "CUPS did not list the printer it sees on the network";
  const std::vector<std::string> offered = GetPrinterList();
  EXPECT_EQ(std::count(offered.begin(), offered.end(), seenAs), 0) << seenAs;
}

}  // namespace
