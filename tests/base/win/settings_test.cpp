// The settings store on the real registry, checked with the system's own reg.exe.
#include <gtest/gtest.h>

#include "platform/executable.h"
#include "base/settings.h"
#include "tests/support/wintestsupport.h"

namespace {

constexpr char kProgramKey[] = "HKCU\\SOFTWARE\\Vostrel\\OlvaroDesktop";
constexpr char kRunKey[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Query(const char* key, const std::string& value) {
  return RunAndCapture(std::string("reg query ") + key + " /v " + value + " 2>NUL");
}

class RegistrySettings : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    RunAndCapture(std::string("reg delete ") + kProgramKey + " /f 2>NUL");
    RunAndCapture(std::string("reg delete ") + kRunKey + " /v OlvaroDesktop /f 2>NUL");
  }
};

TEST_F(RegistrySettings, FirstReadCreatesTheKeyAndGivesTheDefaults) {
  EXPECT_EQ(ReadPortSetting(), 33300u);
  EXPECT_EQ(ReadLastUpdateCheckTime(), 0u);
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), "");
  EXPECT_EQ(RunAndCapture(std::string("reg query ") + kProgramKey + " >NUL 2>NUL && echo present"), "present\r\n");
}

TEST_F(RegistrySettings, ValuesWrittenByHandAreRead) {
  RunAndCapture(std::string("reg add ") + kProgramKey + " /v Port /t REG_DWORD /d 8080 /f");
  EXPECT_EQ(ReadPortSetting(), 8080u);
  // Eight bytes do not fit the port's four: the default stands.
  RunAndCapture(std::string("reg add ") + kProgramKey + " /v Port /t REG_QWORD /d 8080 /f");
  EXPECT_EQ(ReadPortSetting(), 33300u);
}

TEST_F(RegistrySettings, ValuesTheProgramWritesAreTheRegistrysTypes) {
  WriteLastUpdateCheckTime(0x0102030405060708ULL);
  EXPECT_NE(Query(kProgramKey, "LastUpdateCheckTime").find("REG_BINARY    0807060504030201"), std::string::npos);
  EXPECT_EQ(ReadLastUpdateCheckTime(), 0x0102030405060708ULL);

  // A name beyond any ANSI code page survives the round trip.
  const std::string name = "Drucker \xE2\x84\x96 7 \xE5\x8D\xB0";
  ASSERT_TRUE(WriteSettingString("preferredPrinterName", name));
  EXPECT_NE(Query(kProgramKey, "preferredPrinterName").find("REG_SZ"), std::string::npos);
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), name);

  // No identity yet: an empty "Magic" is left for the cloud code to replace.
  EXPECT_EQ(ReadMagicValue(), "-1");
  EXPECT_NE(Query(kProgramKey, "Magic").find("REG_SZ"), std::string::npos);
  EXPECT_EQ(ReadMagicValue(), "");
}

TEST_F(RegistrySettings, StartupEntryHoldsTheQuotedProgramAndTheSwitch) {
  EXPECT_FALSE(IsStartupEntryPresent());
  EXPECT_TRUE(ToggleStartupEntry(false));
  EXPECT_TRUE(IsStartupEntryPresent());
  const std::string expected = "\"" + GetExecutablePath() + "\" /autorun";
  EXPECT_NE(Query(kRunKey, "OlvaroDesktop").find("REG_SZ    " + expected), std::string::npos)
      << Query(kRunKey, "OlvaroDesktop");
  EXPECT_FALSE(ToggleStartupEntry(true));
  EXPECT_FALSE(IsStartupEntryPresent());
  EXPECT_EQ(Query(kRunKey, "OlvaroDesktop").find("OlvaroDesktop"), std::string::npos);
}

TEST_F(RegistrySettings, PrinterIdentityAndSharingAreTheRegistrysTypes) {
  const std::string uuid = ReadPrinterUuid();
  EXPECT_EQ(uuid.size(), 45u);
  EXPECT_NE(Query(kProgramKey, "PrinterUuid").find("REG_SZ    " + uuid), std::string::npos);
  EXPECT_EQ(ReadPrinterUuid(), uuid);
  EXPECT_TRUE(ReadShareWithAllPhones());
  ASSERT_TRUE(WriteShareWithAllPhones(false));
  EXPECT_NE(Query(kProgramKey, "ShareWithAllPhones").find("REG_DWORD    0x0"), std::string::npos);
  EXPECT_FALSE(ReadShareWithAllPhones());
}

}  // namespace
