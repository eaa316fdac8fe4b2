#include "printservice/uploadrequest.h"
#include "text/utf8.h"

#include <gtest/gtest.h>

TEST(UploadRequest, CopiesAreReadAsAtolAndKeptWithin1To99) {
  const std::pair<const char*, int> cases[] = {
      {nullptr, 1}, {"1", 1},  {"2", 2},     {"99", 99}, {"100", 1},  {"0", 1},
      {"-2", 1},    {"abc", 1}, {"5x", 5},   {"  7", 7}, {"+3", 3},   {"", 1},
      {"99999999999999999999", 1}, {"\t12", 12},
  };
  for (const auto& [value, copies] : cases) {
    EXPECT_EQ(ReadCopies(value), copies) << (value ? value : "(absent)");
  }
}

TEST(UploadRequest, NameIsFileWhenAbsentAndEmptyWhenNotUtf8) {
  EXPECT_EQ(ReadUploadName(nullptr), "file");
  EXPECT_EQ(ReadUploadName("Příliš žluťoučký kůň.pdf"), "Příliš žluťoučký kůň.pdf");
  EXPECT_EQ(ReadUploadName("../../x.pdf"), "../../x.pdf");
  EXPECT_EQ(ReadUploadName("caf\xE9.pdf"), "");
}

TEST(UploadRequest, Utf8ValidationIsStrict) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"plain", true},
      {"\xC3\xA9", true},                // é
      {"\xE2\x82\xAC", true},            // €
      {"\xF0\x9F\x96\xA8", true},        // printer emoji
      {"\xF4\x8F\xBF\xBF", true},        // U+10FFFF
      {"\x80", false},                   // stray continuation byte
      {"\xC3", false},                   // cut short
      {"\xC3\x28", false},               // missing continuation
      {"\xC0\xAF", false},               // overlong '/'
      {"\xE0\x80\xAF", false},           // overlong '/'
      {"\xED\xA0\x80", false},           // surrogate U+D800
      {"\xF4\x90\x80\x80", false},       // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", false},   // five-byte form
      {"ok\xFF", false},
  };
  for (const auto& [text, valid] : cases) {
    EXPECT_EQ(IsValidUtf8(text), valid) << testing::PrintToString(text);
  }
}
