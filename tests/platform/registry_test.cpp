// The regedit text format and the program key over a real file.
#include <gtest/gtest.h>

#include "platform/regfile.h"
#include "platform/registry.h"
#include "tests/support/testenv.h"

namespace {

constexpr char kKeyPath[] = "HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop";

std::string Bytes(std::initializer_list<int> bytes) {
  std::string data;
  for (const int byte : bytes) data.push_back(static_cast<char>(byte));
  return data;
}

// A string value's data: the text and its terminating zero.
std::string Sz(std::string text) {
  text.push_back('\0');
  return text;
}

const RegistryValue* Find(const RegistryDocument& document, const std::string& name) {
  for (const RegistrySection& section : document) {
    if (section.key == kKeyPath) return FindRegistryValue(section, name);
  }
  return nullptr;
}

void ExpectValue(const RegistryDocument& document, const std::string& name, RegistryType type,
                 const std::string& data) {
  const RegistryValue* value = Find(document, name);
  ASSERT_NE(value, nullptr) << name;
  EXPECT_EQ(value->type, type) << name;
  EXPECT_EQ(value->data, data) << name;
}

TEST(RegFileFormat, ReadsWhatPeopleAndRegeditWrite) {
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; set by hand\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop]\r\n"
      "\"Port\"=DWORD:820c\r\n"
      "\"Exact\"=dword:0000820c\r\n"
      "  \"Spaced\" = \"a b\"  \r\n"
      "\"Escaped \\\"name\\\"\"=\"C:\\\\Program Files\\\\ \\\"x\\\" \\q\"\r\n"
      "\"Time\"=hex(b):00,11,22,33,44,55,\\\r\n"
      "  66,77\r\n"
      "\"Blob\"=HEX:de,ad,BE,ef\r\n"
      "\"Empty\"=hex:\r\n"
      "\"Multi\"=hex(7):61,00,00\r\n"
      "@=\"default\"\r\n"
      "\"Twice\"=\"first\"\r\n"
      "\"TWICE\"=\"second\"\r\n"
      "\"Gone\"=\"soon\"\r\n"
      "\"Gone\"=-\r\n"
      "\r\n"
      "[hkey_current_user\\software\\vostrel\\olvarodesktop]\r\n"
      "\"Merged\"=\"yes\"\r\n";
  const auto document = ParseRegFile(text);
  ASSERT_TRUE(document.has_value());
  ASSERT_EQ(document->size(), 1u);

  ExpectValue(*document, "Port", RegistryType::Dword, Bytes({0x0c, 0x82, 0, 0}));
  ExpectValue(*document, "Exact", RegistryType::Dword, Bytes({0x0c, 0x82, 0, 0}));
  ExpectValue(*document, "Spaced", RegistryType::String, Sz("a b"));
  // Only \\ and \" are escapes; a stray backslash stays as typed.
  ExpectValue(*document, "Escaped \"name\"", RegistryType::String,
              Sz("C:\\Program Files\\ \"x\" \\q"));
  ExpectValue(*document, "Time", RegistryType::Qword, Bytes({0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
  ExpectValue(*document, "Blob", RegistryType::Binary, Bytes({0xde, 0xad, 0xbe, 0xef}));
  ExpectValue(*document, "Empty", RegistryType::Binary, "");
  ExpectValue(*document, "Multi", static_cast<RegistryType>(7), Bytes({0x61, 0, 0}));
  ExpectValue(*document, "", RegistryType::String, Sz("default"));
  ExpectValue(*document, "twice", RegistryType::String, Sz("second"));
  ExpectValue(*document, "Merged", RegistryType::String, Sz("yes"));
  EXPECT_EQ(Find(*document, "Gone"), nullptr);
}

TEST(RegFileFormat, RefusesWhatIsNotTheFormat) {
  const std::string header = "Windows Registry Editor Version 5.00\n";
  const std::string section = "[HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop]\n";
  for (const std::string& text : {
           std::string(),
           std::string("just some text\n"),
           section + "\"Port\"=dword:1\n",
           header + "\"Port\"=dword:1\n",
           header + "[\n",
           header + "[unclosed\n",
           header + section + "\"Port\"=dword:123456789\n",
           header + section + "\"Port\"=dword:\n",
           header + section + "\"Port\"=dword:12g4\n",
           header + section + "\"Blob\"=hex:1g\n",
           header + section + "\"Blob\"=hex:123\n",
           header + section + "\"Blob\"=hex(zz):00\n",
           header + section + "\"Blob\"=hex():00\n",
           header + section + "\"Text\"=\"unterminated\n",
           header + section + "\"Text\"=\"ends in escape\\\"\n",
           header + section + "\"Text\"=\"x\" trailing\n",
           header + section + "\"Text\"=bare\n",
           header + section + "\"Text\"\"x\"\n",
           header + section + "Port=dword:1\n",
       }) {
    EXPECT_FALSE(ParseRegFile(text).has_value()) << text;
  }
}

TEST(RegFileFormat, WritesWhatItReadsBack) {
  std::string longBinary;
  for (int i = 0; i < 200; ++i) longBinary.push_back(static_cast<char>(i));
  const RegistryDocument original{
      RegistrySection{"HKEY_CURRENT_USER\\Other", {{"Kept", RegistryType::String, Sz("x")}}},
      RegistrySection{kKeyPath,
                      {
                          {"Port", RegistryType::Dword, Bytes({0x0c, 0x82, 0, 0})},
                          {"Short dword", RegistryType::Dword, Bytes({1, 2, 3})},
                          {"Time", RegistryType::Qword, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
                          {"Blob", RegistryType::Binary, longBinary},
                          {"Quotes \"and\" \\", RegistryType::String, Sz("\"q\" C:\\dir\\")},
                          {"Lines", RegistryType::String, Sz("one\ntwo")},
                          {"No terminator", RegistryType::String, "abc"},
                          {"Inner zero", RegistryType::String, std::string("a\0b\0", 4)},
                          {"Empty", RegistryType::String, Sz("")},
                          {"Name ÄÖÜ 東京", RegistryType::String, Sz("Drucker Büro")},
                          {"Multi", static_cast<RegistryType>(7), Bytes({0x61, 0, 0})},
                          {"", RegistryType::String, Sz("default")},
                      }},
  };
  const std::string text = FormatRegFile(original);
  EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\n")) << text;
  EXPECT_NE(text.find("\"Port\"=dword:0000820c\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Time\"=hex(b):01,02,03,04,05,06,07,08\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Name ÄÖÜ 東京\"=\"Drucker Büro\"\n"), std::string::npos) << text;

  const auto parsed = ParseRegFile(text);
  ASSERT_TRUE(parsed.has_value()) << text;
  ASSERT_EQ(parsed->size(), original.size());
  for (size_t s = 0; s < original.size(); ++s) {
    EXPECT_EQ((*parsed)[s].key, original[s].key);
    ASSERT_EQ((*parsed)[s].values.size(), original[s].values.size()) << text;
    for (size_t v = 0; v < original[s].values.size(); ++v) {
      const RegistryValue& expected = original[s].values[v];
      const RegistryValue& actual = (*parsed)[s].values[v];
      EXPECT_EQ(actual.name, expected.name);
      EXPECT_EQ(actual.type, expected.type) << expected.name;
      EXPECT_EQ(actual.data, expected.data) << expected.name;
    }
  }
}

class ProgramKeyTest : public ::testing::Test {
protected:
  TestEnvironment environment_;
};

TEST_F(ProgramKeyTest, QueriesFollowTheBufferRules) {
  const auto key = CreateProgramKey(RegistryAccess::ReadWrite);
  ASSERT_NE(key, nullptr);
  const std::string eight = Bytes({1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_EQ(key->SetValue("Eight", RegistryType::Qword, eight.data(), 8), RegistryStatus::Success);

  char buffer[8] = {};
  uint32_t size = 4;
  EXPECT_EQ(key->QueryValue("Eight", buffer, &size), RegistryStatus::MoreData);
  EXPECT_EQ(size, 8u);
  size = sizeof buffer;
  EXPECT_EQ(key->QueryValue("EIGHT", buffer, &size), RegistryStatus::Success);
  EXPECT_EQ(std::string(buffer, size), eight);

  size = 0;
  EXPECT_EQ(key->QueryValue("Eight", nullptr, &size), RegistryStatus::Success);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(key->QueryValue("Eight", nullptr, nullptr), RegistryStatus::Success);
  EXPECT_EQ(key->QueryValue("Missing", nullptr, nullptr), RegistryStatus::NotFound);

  EXPECT_EQ(key->DeleteValue("eight"), RegistryStatus::Success);
  EXPECT_EQ(key->DeleteValue("Eight"), RegistryStatus::NotFound);
  EXPECT_EQ(key->QueryValue("Eight", nullptr, nullptr), RegistryStatus::NotFound);
  EXPECT_EQ(key->Flush(), RegistryStatus::Success);
}

TEST_F(ProgramKeyTest, ReadAccessCannotWrite) {
  const auto key = CreateProgramKey(RegistryAccess::Read);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->SetValue("Port", RegistryType::Dword, "\1\0\0\0", 4), RegistryStatus::Failed);
  EXPECT_EQ(key->DeleteValue("Port"), RegistryStatus::Failed);
  EXPECT_EQ(key->QueryValue("Port", nullptr, nullptr), RegistryStatus::NotFound);
}

// Reads are served from the last parse while the file stays the same; an edit in place
// (same file, same length) is seen by the next read.
TEST_F(ProgramKeyTest, AnEditInPlaceIsSeenAtOnce) {
  const auto key = CreateProgramKey(RegistryAccess::Read);
  ASSERT_NE(key, nullptr);
  for (const std::string digit : {"2", "3"}) {
    ASSERT_TRUE(WriteTestFile(environment_.KeyFile(), "Windows Registry Editor Version 5.00\n\n"
                                                      "[HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop]\n"
                                                      "\"Port\"=dword:0000" + digit + "000\n"));
    char port[4] = {};
    uint32_t size = sizeof port;
    ASSERT_EQ(key->QueryValue("Port", port, &size), RegistryStatus::Success);
    EXPECT_EQ(std::string(port, size), Bytes({0, (digit[0] - '0') << 4, 0, 0}));
  }
}

TEST_F(ProgramKeyTest, WritingKeepsTheRestOfAHandWrittenFile) {
  ASSERT_TRUE(WriteTestFile(environment_.KeyFile(),
                            "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Someone\\Else]\n"
                            "\"Theirs\"=dword:00000007\n\n"
                            "[HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop]\n"
                            "\"Port\"=dword:00002000\n"));
  const auto key = CreateProgramKey(RegistryAccess::Write);
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->SetValue("Magic", RegistryType::String, "id", 3), RegistryStatus::Success);
  // A name the text format could not hold on one line is refused, not written broken.
  EXPECT_EQ(key->SetValue("two\nlines", RegistryType::String, "x", 2), RegistryStatus::Failed);

  const auto text = ReadTestFile(environment_.KeyFile());
  ASSERT_TRUE(text.has_value());
  const auto document = ParseRegFile(*text);
  ASSERT_TRUE(document.has_value()) << *text;
  ExpectValue(*document, "Port", RegistryType::Dword, Bytes({0, 0x20, 0, 0}));
  ExpectValue(*document, "Magic", RegistryType::String, Sz("id"));
  EXPECT_NE(text->find("[HKEY_CURRENT_USER\\Software\\Someone\\Else]\n\"Theirs\"=dword:00000007\n"),
            std::string::npos)
      << *text;
}

}  // namespace
