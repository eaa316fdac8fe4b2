// The settings store on real files in a fresh configuration folder per test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/regfile.h"
#include "base/settings.h"
#include "tests/support/testenv.h"

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop]\n";

class SettingsTest : public ::testing::Test {
protected:
  // Writes the key file as a person would, with these value lines.
  void WriteKeyByHand(const std::string& lines) {
    ASSERT_TRUE(WriteTestFile(environment_.KeyFile(), kHeader + lines));
  }

  // The key file's values; fails the test when the file does not parse.
  std::vector<RegistryValue> StoredValues() {
    const auto text = ReadTestFile(environment_.KeyFile());
    if (!text) {
      ADD_FAILURE() << "no key file";
      return {};
    }
    const auto document = ParseRegFile(*text);
    if (!document || document->size() != 1) {
      ADD_FAILURE() << "key file does not parse:\n" << *text;
      return {};
    }
    return document->front().values;
  }

  // Runs `write` in a child process, which then ends; the child's id.
  template <typename Write>
  static pid_t StartWriter(Write write) {
    const pid_t child = fork();
    if (child == 0) {
      write();
      _exit(0);
    }
    return child;
  }

  static bool WaitForSuccess(pid_t child) {
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  TestEnvironment environment_;
};

TEST_F(SettingsTest, FirstStartGivesDefaultsAndCreatesAnEmptyKey) {
  EXPECT_FALSE(std::filesystem::exists(environment_.KeyFile()));
  EXPECT_EQ(ReadPortSetting(), 33300u);
  EXPECT_TRUE(std::filesystem::is_regular_file(environment_.KeyFile()));
  EXPECT_EQ(ReadLastUpdateCheckTime(), 0u);
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), "");
  EXPECT_TRUE(StoredValues().empty());
  EXPECT_EQ(std::filesystem::status(environment_.KeyFile()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // No identity yet: reported as "-1" and left as an empty value for the next reader.
  EXPECT_EQ(ReadMagicValue(), "-1");
  EXPECT_EQ(ReadMagicValue(), "");
  const auto values = StoredValues();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "Magic");
  EXPECT_EQ(values[0].type, RegistryType::String);
  EXPECT_EQ(values[0].data, std::string(1, '\0'));
}

TEST_F(SettingsTest, ReadsValuesWrittenByHandInEachForm) {
  WriteKeyByHand("\"Port\"=dword:0000820c\n"
                 "\"LastUpdateCheckTime\"=hex:ef,cd,ab,89,67,45,23,01\n"
                 "\"preferredPrinterName\"=\"HP \\\"Laser\\\" \\\\ 1\"\n"
                 "\"Magic\"=hex(1):31,32,33,00\n");
  EXPECT_EQ(ReadPortSetting(), 0x820cu);
  EXPECT_EQ(ReadLastUpdateCheckTime(), 0x0123456789abcdefu);
  EXPECT_EQ(ReadSettingString("PreferredPrinterName"), "HP \"Laser\" \\ 1");
  EXPECT_EQ(ReadMagicValue(), "123");

  // Any type of the right size will do for the time, as the registry does not check it.
  WriteKeyByHand("\"LastUpdateCheckTime\"=hex(b):01,00,00,00,00,00,00,80\n");
  EXPECT_EQ(ReadLastUpdateCheckTime(), 0x8000000000000001u);
}

TEST_F(SettingsTest, PortIsReadAsFourBytesWhateverItsType) {
  const struct {
    const char* line;
    uint32_t port;
  } cases[] = {
      {"\"Port\"=hex(b):0d,82,00,00,00,00,00,00\n", 33300},  // 8 bytes do not fit: absent
      {"\"Port\"=dword:00000000\n", 0},                       // passed on unchecked
      {"\"Port\"=dword:ffffffff\n", 0xffffffffu},
      {"\"Port\"=hex:90,1f,00,00\n", 8080},
      {"\"Port\"=hex:01\n", 0x8201},  // one byte replaces the low byte of 33300
      {"\"Port\"=\"80\"\n", 0x3038},  // "80" and its zero, over the default's bytes
      {"\"port\"=dword:00001f90\n", 8080},
      {"\"Other\"=dword:00001f90\n", 33300},
  };
  for (const auto& test : cases) {
    WriteKeyByHand(test.line);
    EXPECT_EQ(ReadPortSetting(), test.port) << test.line;
  }
}

TEST_F(SettingsTest, OverLongStringsReadAsEmptyAndMagicIsReset) {
  const std::string fits(1023, 'a');  // 1024 bytes with its zero
  ASSERT_TRUE(WriteSettingString("Magic", fits));
  EXPECT_EQ(ReadMagicValue(), fits);
  ASSERT_TRUE(WriteSettingString("preferredPrinterName", fits));
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), fits);

  const std::string tooLong(1024, 'b');
  ASSERT_TRUE(WriteSettingString("preferredPrinterName", tooLong));
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), "");
  ASSERT_TRUE(WriteSettingString("Magic", tooLong));
  EXPECT_EQ(ReadMagicValue(), "-1");
  EXPECT_EQ(ReadMagicValue(), "");
  // The reset touched "Magic" only.
  EXPECT_EQ(StoredValues().size(), 2u);

  // Data without its zero ends where the data ends.
  WriteKeyByHand("\"preferredPrinterName\"=hex(1):41,42\n\"Magic\"=hex(1):43,00,44\n");
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), "AB");
  EXPECT_EQ(ReadMagicValue(), "C");
}

TEST_F(SettingsTest, TextsRoundTripInUtf8) {
  const std::string name = "Drucker Büro – Žluťoučký 東京 🖨";
  ASSERT_TRUE(WriteSettingString("preferredPrinterName", name));
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), name);
  // People see the name as text in the file.
  EXPECT_NE(ReadTestFile(environment_.KeyFile())->find("\"preferredPrinterName\"=\"" + name + "\""),
            std::string::npos);

  ASSERT_TRUE(WriteSettingString("Název tiskárny", "ß"));
  EXPECT_EQ(ReadSettingString("Název tiskárny"), "ß");

  WriteLastUpdateCheckTime(0x01d9f3a2b4c5d6e7u);
  EXPECT_EQ(ReadLastUpdateCheckTime(), 0x01d9f3a2b4c5d6e7u);
  // Low byte first.
  EXPECT_NE(ReadTestFile(environment_.KeyFile())->find("=hex:e7,d6,c5,b4,a2,f3,d9,01\n"), std::string::npos);
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), name);
}

TEST_F(SettingsTest, WritersInTwoProcessesAndTwoThreadsLoseNothing) {
  constexpr int kWritesEach = 40;
  // Each writer stores its own names; true when every write reported success.
  const auto writeAll = [](const std::string& prefix) {
    bool stored = true;
    for (int i = 0; i < kWritesEach; ++i) {
      stored = WriteSettingString(prefix + std::to_string(i), "value " + prefix + std::to_string(i)) && stored;
    }
    return stored;
  };
  const pid_t first = StartWriter([&] { if (!writeAll("first")) _exit(1); });
  const pid_t second = StartWriter([&] { if (!writeAll("second")) _exit(1); });
  bool thirdStored = false;
  std::thread third([&] { thirdStored = writeAll("third"); });
  EXPECT_TRUE(writeAll("fourth"));
  third.join();
  EXPECT_TRUE(thirdStored);
  ASSERT_TRUE(WaitForSuccess(first));
  ASSERT_TRUE(WaitForSuccess(second));

  EXPECT_EQ(StoredValues().size(), 4u * kWritesEach);
  for (const std::string prefix : {"first", "second", "third", "fourth"}) {
    for (int i = 0; i < kWritesEach; ++i) {
      EXPECT_EQ(ReadSettingString(prefix + std::to_string(i)), "value " + prefix + std::to_string(i));
    }
  }
}

TEST_F(SettingsTest, AWriterKilledMidWriteLeavesTheOldOrTheNewFile) {
  // Many sizeable values make each write long enough to be interrupted.
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(WriteSettingString("Filler" + std::to_string(i), std::string(900, 'f')));
  }
  const auto readCounter = [] {
    const std::string counter = ReadSettingString("Counter");
    return counter.empty() ? -1 : std::stoi(counter);
  };
  int lastSeen = -1;
  for (int round = 0; round < 12; ++round) {
    const pid_t writer = StartWriter([&] {
      for (int counter = lastSeen + 1;; ++counter) WriteSettingString("Counter", std::to_string(counter));
    });
    // Once the writer is under way, kill it at a different moment each round.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (readCounter() <= lastSeen && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const int progress = readCounter();
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * round));
    kill(writer, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);

    ASSERT_GT(progress, lastSeen) << "the writer made no progress in round " << round;
    ASSERT_EQ(StoredValues().size(), 51u) << "round " << round;
    lastSeen = readCounter();
    EXPECT_GE(lastSeen, progress) << "round " << round;
    EXPECT_EQ(ReadSettingString("Filler7"), std::string(900, 'f'));
  }
  // The killed writers' lock went with them.
  EXPECT_TRUE(WriteSettingString("After", "yes"));
  EXPECT_EQ(ReadSettingString("After"), "yes");
}

TEST_F(SettingsTest, AFileThatDoesNotParseIsAnEmptyKeyAndKeptBeforeWriting) {
  const std::string broken = "Port = 8080   # my own idea of the format\n";
  ASSERT_TRUE(WriteTestFile(environment_.KeyFile(), broken));
  EXPECT_EQ(ReadPortSetting(), 33300u);
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), "");
  EXPECT_EQ(ReadTestFile(environment_.KeyFile()), broken);

  ASSERT_TRUE(WriteSettingString("preferredPrinterName", "Office"));
  EXPECT_EQ(ReadTestFile(environment_.KeyFile() + ".unreadable"), broken);
  const auto values = StoredValues();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "preferredPrinterName");

  // A second broken file gets a copy of its own; the first copy stays.
  const std::string brokenAgain = "[broken\n";
  ASSERT_TRUE(WriteTestFile(environment_.KeyFile(), brokenAgain));
  EXPECT_EQ(ReadMagicValue(), "-1");
  EXPECT_EQ(ReadTestFile(environment_.KeyFile() + ".unreadable"), broken);
  EXPECT_EQ(ReadTestFile(environment_.KeyFile() + ".unreadable.2"), brokenAgain);
  EXPECT_EQ(ReadMagicValue(), "");
}

TEST_F(SettingsTest, NoKeyWhenTheConfigurationFolderCannotBeMade) {
  // A file where the key's folder belongs stops even root.
  ASSERT_TRUE(WriteTestFile(environment_.ConfigFolder() + "Vostrel", "in the way"));
  EXPECT_EQ(ReadPortSetting(), 33300u);
  EXPECT_EQ(ReadLastUpdateCheckTime(), 0u);
  EXPECT_EQ(ReadSettingString("preferredPrinterName"), "-1");
  EXPECT_FALSE(WriteSettingString("preferredPrinterName", "x"));
  EXPECT_EQ(ReadMagicValue(), "-1");
  WriteLastUpdateCheckTime(5);
  EXPECT_EQ(ReadPrinterUuid(), "");
  EXPECT_TRUE(ReadShareWithAllPhones());
  EXPECT_FALSE(WriteShareWithAllPhones(false));
  EXPECT_EQ(ReadTestFile(environment_.ConfigFolder() + "Vostrel"), "in the way");
}

// The driverless printer's identity is made once, from the random source, and kept; a
// spoiled one is replaced. Sharing is on until it is turned off.
TEST_F(SettingsTest, PrinterIdentityIsMadeOnceAndSharingIsOnByDefault) {
  const std::string uuid = ReadPrinterUuid();
  EXPECT_EQ(uuid.substr(0, 9) + uuid[23], "urn:uuid:4") << "version 4: " << uuid;
  EXPECT_EQ(uuid.size(), 45u);
  EXPECT_EQ(ReadPrinterUuid(), uuid);
  EXPECT_EQ(ReadSettingString("PrinterUuid"), uuid);
  ASSERT_TRUE(WriteSettingString("PrinterUuid", "urn:uuid:not-a-uuid"));
  const std::string replaced = ReadPrinterUuid();
  EXPECT_EQ(ReadPrinterUuid(), replaced);
  // Another PC, a fresh configuration, gets another identity.
  ASSERT_TRUE(std::filesystem::remove(environment_.KeyFile()));
  const std::string other = ReadPrinterUuid();
  EXPECT_TRUE(replaced.size() == 45 && replaced != uuid && other != uuid && other != replaced) << replaced << other;

  EXPECT_TRUE(ReadShareWithAllPhones());
  ASSERT_TRUE(WriteShareWithAllPhones(false));
  EXPECT_FALSE(ReadShareWithAllPhones());
  EXPECT_EQ(StoredValues().back().name, "ShareWithAllPhones");
  EXPECT_EQ(StoredValues().back().type, RegistryType::Dword);
  ASSERT_TRUE(WriteShareWithAllPhones(true));
  EXPECT_TRUE(ReadShareWithAllPhones());
}

class StartupEntryTest : public SettingsTest {};

TEST_F(StartupEntryTest, TogglingWritesAnEntryThatStartsTheProgram) {
  // The program lives where a path needs quoting in a desktop entry. ('%' is left out:
  // GLib looks for the program before it undoes the "%%" escape, and finds none.)
  const std::string folder = environment_.Root() + "Program Files & 'quotes' $HOME `x` \"q\" \\";
  const std::string program = folder + "/olvaro desktop";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(OLVARO_STARTUP_TOOL, program);

  EXPECT_FALSE(IsStartupEntryPresent());
  ASSERT_EQ(RunTestProgram({program, "add"}), 0);
  EXPECT_TRUE(IsStartupEntryPresent());
  const auto entry = ReadTestFile(environment_.AutostartEntry());
  ASSERT_TRUE(entry.has_value());
  EXPECT_NE(entry->find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry->find("Type=Application\n"), std::string::npos);

  // A desktop-entry reader runs what the entry says.
  const std::string marker = environment_.Root() + "launched";
  setenv("OLVARO_LAUNCH_MARKER", marker.c_str(), 1);
  ASSERT_EQ(RunTestProgram({"gio", "launch", environment_.AutostartEntry()}), 0) << *entry;
  std::optional<std::string> launched;
  for (int i = 0; i < 200 && (!launched || std::count(launched->begin(), launched->end(), '\n') < 2); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    launched = ReadTestFile(marker);
  }
  unsetenv("OLVARO_LAUNCH_MARKER");
  EXPECT_EQ(launched, program + "\n/autorun\n") << *entry;

  EXPECT_FALSE(ToggleStartupEntry(true));
  EXPECT_FALSE(IsStartupEntryPresent());
  EXPECT_FALSE(std::filesystem::exists(environment_.AutostartEntry()));
  // Removing an entry someone else already removed fails and leaves the state as it was.
  EXPECT_TRUE(ToggleStartupEntry(true));
}

TEST_F(StartupEntryTest, TheRunningTestProgramIsEnteredWithTheSwitch) {
  EXPECT_TRUE(ToggleStartupEntry(false));
  EXPECT_TRUE(IsStartupEntryPresent());
  const auto entry = ReadTestFile(environment_.AutostartEntry());
  ASSERT_TRUE(entry.has_value());
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_NE(entry->find("\nExec=" + self + " /autorun\n"), std::string::npos) << *entry;
}

TEST_F(StartupEntryTest, AnUnwritableAutostartFolderKeepsTheState) {
  ASSERT_TRUE(WriteTestFile(environment_.ConfigFolder() + "autostart", "not a folder"));
  EXPECT_FALSE(ToggleStartupEntry(false));
  EXPECT_TRUE(ToggleStartupEntry(true));
  EXPECT_FALSE(IsStartupEntryPresent());
  EXPECT_EQ(ReadTestFile(environment_.ConfigFolder() + "autostart"), "not a folder");
}

}  // namespace
