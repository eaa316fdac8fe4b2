// The driverless printer's Windows raster printing on its own: a raster that breaks off
// in its second page reaches nothing of itself to the queue OlvaroTestA, where the whole
// raster lands as its two pages.
#include "print/printer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <windows.h>

#include "tests/support/wintestsupport.h"

namespace {

// The highest CUPS job number captured in the queue so far.
int LastCapturedJob() {
  int last = 0;
  for (const auto& entry : std::filesystem::directory_iterator("Z:\\var\\spool\\olvaro-capture\\OlvaroTestA")) {
    if (entry.path().extension() == ".data") last = std::max(last, std::atoi(entry.path().stem().string().c_str()));
  }
  return last;
}

TEST(WinDriverlessPrint, ARasterThatBreaksOffPrintsNothingWhereTheWholeOnePrints) {
  ASSERT_TRUE(SetDefaultPrintQueue("OlvaroTestA"));
  const std::string sample = std::string(OLVARO_RASTER_SAMPLES) + "\\color.pwg";
  std::ifstream in(sample, std::ios::binary);
  const std::string whole{std::istreambuf_iterator<char>(in), {}};
  ScratchFolder scratch;
  const std::string cut = scratch.Path() + "cut.pwg";
  std::ofstream(std::filesystem::u8path(cut), std::ios::binary) << whole.substr(0, whole.size() - 1000);

  int before = LastCapturedJob();
  const SubmitResult refused = PrintDriverlessDocument(cut, "image/pwg-raster", "cut", {});
  EXPECT_EQ(refused.error, ERROR_INVALID_DATA);
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(LastCapturedJob(), before);

  const SubmitResult printed = PrintDriverlessDocument(sample, "image/pwg-raster", "whole", {});
  EXPECT_EQ(printed.error, 0);
  for (int i = 0; i < 300 && LastCapturedJob() == before; ++i) std::this_thread::sleep_for(100ms);
  EXPECT_GT(LastCapturedJob(), before);
}

}  // namespace
