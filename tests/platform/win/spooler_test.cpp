// The default printer's capabilities and jobs, and DNS-SD without Bonjour, as Wine shows
// them: Wine's printers are the CUPS queues, described by their PPDs.
#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>
#include <winspool.h>

#include "platform/dnssd.h"
#include "platform/spooler.h"
#include "platform/win/dnsregistration.h"
#include "platform/win/widetext.h"

namespace {

const std::string kQueueA = "OlvaroTestA";
const std::string kQueueStopped = "OlvaroTestStopped";

TEST(WinSpooler, CapabilitiesComeFromTheDriver) {
  ASSERT_TRUE(SetDefaultPrintQueue(kQueueStopped));
  const auto mono = GetDefaultQueueCapabilities().value_or(QueueCapabilities{});
  EXPECT_EQ(mono.name, kQueueStopped);
  EXPECT_FALSE(mono.makeAndModel.empty() || mono.deviceUri.empty());
  EXPECT_EQ(mono.media, (std::vector<std::string>{"iso_a5_148x210mm", "iso_a4_210x297mm", "na_letter_8.5x11in"}));
  EXPECT_FALSE(mono.color || mono.duplex);

  ASSERT_TRUE(SetDefaultPrintQueue(kQueueA));
  const auto colour = GetDefaultQueueCapabilities().value_or(QueueCapabilities{});
  EXPECT_EQ(colour.media.empty() ? "" : colour.media.front(), "na_letter_8.5x11in");
  EXPECT_TRUE(colour.color && colour.duplex);
}

TEST(WinSpooler, AJobIsFoundAndCanceled) {
  std::wstring name = ToWide(kQueueStopped);
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
  DOC_INFO_1W document{const_cast<wchar_t*>(L"held"), nullptr, const_cast<wchar_t*>(L"RAW")};
  const DWORD job = StartDocPrinterW(printer, 1, reinterpret_cast<BYTE*>(&document));
  ASSERT_GT(job, 0u);
  EXPECT_NE(GetSpoolerJobState(static_cast<int>(job)), SpoolerJobState::kUnknown);
  EXPECT_TRUE(CancelSpoolerJob(static_cast<int>(job)));
  EndDocPrinter(printer);
  ClosePrinter(printer);
  EXPECT_EQ(GetSpoolerJobState(999999), SpoolerJobState::kUnknown);
}

TEST(WinDnsSdRecord, WindowsOwnDnsSdTakesTheTxtKeysButNoSubtypes) {
  // Wine has no Bonjour: only Windows' own DNS-SD could announce, without subtypes.
  EXPECT_FALSE(CanRegisterSubtypes());
  const ServiceRegistration request = DescribeServiceRegistration(
      "Kitchen PC @ HP 1.5", "KITCHEN-PC", "_ipp._tcp", "local.", 33300, {{"rp", "ipp/print"}, {"ty", "HP \xC3\xA4"}});
  EXPECT_EQ(request.instanceName, L"Kitchen PC @ HP 1\\.5._ipp._tcp.local");
  EXPECT_EQ(request.txtKeys, (std::vector<std::wstring>{L"rp", L"ty"}));
  EXPECT_EQ(request.txtValues, (std::vector<std::wstring>{L"ipp/print", L"HP \u00E4"}));
}

}  // namespace
