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

// True once a job titled `title` has been captured in the queue, which other tests share.
bool Captured(const std::string& title) {
  for (const auto& entry : std::filesystem::directory_iterator("Z:\\var\\spool\\olvaro-capture\\OlvaroTestA")) {
    std::ifstream file(entry.path());
    std::string line;
    if (entry.path().extension() == ".title" && std::getline(file, line) && line == title) return true;
  }
  return false;
}

TEST(WinDriverlessPrint, ARasterThatBreaksOffPrintsNothingWhereTheWholeOnePrints) {
  ASSERT_TRUE(SetDefaultPrintQueue("OlvaroTestA"));
  const std::string sample = std::string(OLVARO_RASTER_SAMPLES) + "\\color.pwg";
  std::ifstream in(sample, std::ios::binary);
  const std::string whole{std::istreambuf_iterator<char>(in), {}};
  ScratchFolder scratch;
  const std::string cut = scratch.Path() + "cut.pwg";
  std::ofstream(std::filesystem::u8path(cut), std::ios::binary) << whole.substr(0, whole.size() - 1000);
  const std::string run = std::to_string(GetTickCount64());

  EXPECT_EQ(PrintDriverlessDocument(cut, "image/pwg-raster", "cut " + run, {}).error, ERROR_INVALID_DATA);
  EXPECT_EQ(PrintDriverlessDocument(sample, "image/pwg-raster", "whole " + run, {}).error, 0);
  // The whole one is there first: Wine's spooler hands jobs over in order.
  bool printed = false;
  for (int i = 0; i < 300 && !printed; ++i, std::this_thread::sleep_for(100ms)) printed = Captured("whole " + run);
  EXPECT_TRUE(printed);
  EXPECT_FALSE(Captured("cut " + run));
}

}  // namespace
