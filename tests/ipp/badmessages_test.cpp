// Messages past a limit get the IPP status a printer answers with, and broken ones are told
// apart from ones still arriving.
#include "ipp/ippmessage.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

std::string Field(std::string_view text) {
  return std::string{static_cast<char>(text.size() >> 8), static_cast<char>(text.size() & 0xff)} + std::string(text);
}

std::string Value(uint8_t tag, std::string_view name, std::string_view value) {
  return static_cast<char>(tag) + Field(name) + Field(value);
}

std::string Repeat(size_t count, const std::string& part) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += part;
  return out;
}

const std::string kStart("\x02\x00\x00\x0b\x00\x00\x00\x01", 8);  // 2.0 Get-Printer-Attributes, request 1
const std::string kHead = kStart + "\x01";                        // and the operation group
const std::string kEnd = "\x03";
const std::string kFour("\x00\x00\x00\x04", 4);

// `depth` collections, each the only member of the one around it.
std::string Nested(size_t depth) {
  std::string out = Value(0x34, "c", "");
  for (size_t i = 1; i < depth; ++i) out += Value(0x4a, "", "c") + Value(0x34, "", "");
  return out + Value(0x4a, "", "x") + Value(0x21, "", kFour) + Repeat(depth, Value(0x37, "", ""));
}

// A message whose head is `length` octets, in octetString values of up to 1000.
std::string HeadOf(size_t length) {
  std::string out = kHead;
  while (out.size() + 1 < length) {
    out += Value(0x30, "p", std::string(std::min<size_t>(1000, length - out.size() - 7), 'p'));
  }
  return out + kEnd;
}

struct LimitCase {
  const char* what;
  std::function<std::string(size_t)> message;  // with n of what is limited
  size_t limit;                                // the default limit
  uint16_t ippStatus;
};

TEST(IppBadMessages, EachLimitTakesItsLastAndRefusesOneMore) {
  const LimitCase cases[] = {
      {"name octets", [](size_t n) { return kHead + Value(0x44, std::string(n, 'a'), "k") + kEnd; }, 255, 0x0409},
      {"name value octets", [](size_t n) { return kHead + Value(0x42, "job-name", std::string(n, 'n')) + kEnd; }, 255,
       0x0409},
      {"value octets", [](size_t n) { return kHead + Value(0x41, "t", std::string(n, 'v')) + kEnd; }, 1023, 0x0409},
      {"text octets with a language",
       [](size_t n) { return kHead + Value(0x35, "t", Field("en") + Field(std::string(n, 'v'))) + kEnd; }, 1023,
       0x0409},
      {"attributes, members included",
       [](size_t n) { return kHead + Nested(1) + Repeat(n - 2, Value(0x21, "n", kFour)) + kEnd; }, 1000, 0x0408},
      {"values of one attribute",
       [](size_t n) { return kHead + Value(0x21, "n", kFour) + Repeat(n - 1, Value(0x21, "", kFour)) + kEnd; }, 1000,
       0x0408},
      {"collection depth", [](size_t n) { return kHead + Nested(n) + kEnd; }, 8, 0x0408},
      {"head octets", HeadOf, 256 * 1024, 0x0408},
  };
  for (const LimitCase& limit : cases) {
    SCOPED_TRACE(limit.what);
    IppDecodeResult last = DecodeIppMessage(limit.message(limit.limit));
    EXPECT_EQ(last.status, IppDecodeStatus::kComplete) << last.error;
    std::string over = limit.message(limit.limit + 1);
    IppDecodeResult refused = DecodeIppMessage(over);
    EXPECT_EQ(refused.status, IppDecodeStatus::kTooLarge);
    EXPECT_EQ(refused.ippStatus, limit.ippStatus) << refused.error;
    EXPECT_TRUE(refused.message.groups.empty());
    // Refused before the end arrives.
    EXPECT_EQ(DecodeIppMessage(std::string_view(over).substr(0, over.size() - 1)).status, IppDecodeStatus::kTooLarge);
  }
}

TEST(IppBadMessages, BrokenFramingIsMalformed) {
  const std::string member = Value(0x4a, "", "m") + Value(0x21, "", kFour);
  const std::pair<const char*, std::string> cases[] = {
      {"an attribute before any group", kStart + Value(0x21, "n", kFour) + kEnd},
      {"an additional value opening a group", kHead + Value(0x44, "k", "v") + "\x04" + Value(0x44, "", "w") + kEnd},
      {"an integer of three octets", kHead + Value(0x21, "n", "abc") + kEnd},
      {"a boolean of 2", kHead + Value(0x22, "b", "\x02") + kEnd},
      {"text lengths that do not add up", kHead + Value(0x35, "t", Field("en") + Field("text") + "x") + kEnd},
      {"a language longer than its value", kHead + Value(0x36, "t", Field("english")) + kEnd},
      {"a member name outside a collection", kHead + member + kEnd},
      {"a collection cut by the next group", kHead + Value(0x34, "c", "") + member + "\x02" + kEnd},
      {"a member value before its name", kHead + Value(0x34, "c", "") + Value(0x21, "", kFour) + kEnd},
      {"a member name without a value", kHead + Value(0x34, "c", "") + Value(0x4a, "", "m") + Value(0x37, "", "")},
      {"an empty member name", kHead + Value(0x34, "c", "") + Value(0x4a, "", "") + Value(0x21, "", kFour)},
      {"a named value inside a collection",
       kHead + Value(0x34, "c", "") + Value(0x4a, "", "m") + Value(0x21, "x", kFour)},
      {"the extension tag", kHead + Value(0x7f, "x", std::string("\x00\x00\x01\x00", 4)) + kEnd},
      {"the reserved delimiter 0x00", kHead + std::string(1, '\0') + kEnd},
  };
  for (const auto& [what, bytes] : cases) {
    IppDecodeResult result = DecodeIppMessage(bytes);
    EXPECT_EQ(result.status, IppDecodeStatus::kMalformed) << what;
    EXPECT_FALSE(result.error.empty()) << what;
  }
}

}  // namespace
