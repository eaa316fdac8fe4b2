// The codec against libcups, which reads and writes the same wire format: captured requests
// and answers (data/README.md says how they were made) round trip byte for byte and decode
// to what libcups reads, and each side reads what the other writes.
#include "ipp/ippmessage.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

ssize_t CupsRead(void* context, ipp_uchar_t* buffer, size_t length) {
  auto* rest = static_cast<std::string_view*>(context);
  length = rest->copy(reinterpret_cast<char*>(buffer), length);
  rest->remove_prefix(length);
  return static_cast<ssize_t>(length);
}

ssize_t CupsWrite(void* context, ipp_uchar_t* buffer, size_t length) {
  static_cast<std::string*>(context)->append(reinterpret_cast<char*>(buffer), length);
  return static_cast<ssize_t>(length);
}

// The message libcups reads from the start of `bytes`, and how many octets it took.
ipp_t* CupsDecode(std::string_view bytes, size_t& consumed) {
  std::string_view rest = bytes;
  ipp_t* message = ippNew();
  EXPECT_EQ(ippReadIO(&rest, CupsRead, 1, nullptr, message), IPP_STATE_DATA);
  consumed = bytes.size() - rest.size();
  return message;
}

IppValue FromCups(ipp_attribute_t* attribute, int i);

// What libcups holds, as our records, value by value through its accessors.
std::vector<IppGroup> GroupsFromCups(ipp_t* message) {
  std::vector<IppGroup> groups;
  bool separated = true;
  for (ipp_attribute_t* a = ippFirstAttribute(message); a != nullptr; a = ippNextAttribute(message)) {
    if (ippGetName(a) == nullptr) {  // libcups' mark between two groups of one tag
      separated = true;
      continue;
    }
    auto tag = static_cast<IppTag>(ippGetGroupTag(a));
    if (separated || groups.back().tag != tag) groups.push_back(IppGroup{tag, {}});
    separated = false;
    IppAttribute& attribute = groups.back().attributes.emplace_back(IppAttribute{ippGetName(a), {}});
    for (int i = 0; i < ippGetCount(a); ++i) attribute.values.push_back(FromCups(a, i));
  }
  return groups;
}

IppMessage FromCups(ipp_t* message) {
  int minor = 0;
  int major = ippGetVersion(message, &minor);
  return IppMessage{static_cast<uint8_t>(major), static_cast<uint8_t>(minor),
                    static_cast<uint16_t>(ippGetStatusCode(message)), ippGetRequestId(message),
                    GroupsFromCups(message)};
}

IppValue FromCups(ipp_attribute_t* attribute, int i) {
  IppValue value;
  value.tag = static_cast<IppTag>(ippGetValueTag(attribute));
  ipp_res_t units = IPP_RES_PER_INCH;
  int length = 0;
  const char* language = nullptr;
  switch (ippGetValueTag(attribute)) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM:
      value.integer = ippGetInteger(attribute, i);
      break;
    case IPP_TAG_BOOLEAN:
      value.integer = ippGetBoolean(attribute, i);
      break;
    case IPP_TAG_RANGE:
      value.integer = ippGetRange(attribute, i, &value.upper);
      break;
    case IPP_TAG_RESOLUTION:
      value.integer = ippGetResolution(attribute, i, &value.upper, &units);
      value.units = static_cast<int8_t>(units);
      break;
    case IPP_TAG_DATE:
      value.text.assign(reinterpret_cast<const char*>(ippGetDate(attribute, i)), 11);
      break;
    case IPP_TAG_BEGIN_COLLECTION:
      for (IppGroup& group : GroupsFromCups(ippGetCollection(attribute, i))) {
        for (IppAttribute& member : group.attributes) value.members.push_back(std::move(member));
      }
      break;
    case IPP_TAG_STRING: {
      const void* octets = ippGetOctetString(attribute, i, &length);
      value.text.assign(static_cast<const char*>(octets), length);
      break;
    }
    default:  // strings; out-of-band values have none
      if (const char* text = ippGetString(attribute, i, &language)) value.text = text;
      if (language != nullptr) value.language = language;
  }
  return value;
}

TEST(IppCodec, CapturedMessagesRoundTripAndDecodeAsLibcupsReadsThem) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(IPP_TEST_DATA)) {
    if (entry.path().extension() != ".ipp") continue;
    ++files;
    SCOPED_TRACE(entry.path().filename().string());
    std::ostringstream content;
    content << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    std::string bytes = content.str();
    size_t cupsConsumed = 0;
    ipp_t* cups = CupsDecode(bytes, cupsConsumed);
    IppDecodeResult ours = DecodeIppMessage(bytes);
    ASSERT_EQ(ours.status, IppDecodeStatus::kComplete) << ours.error;
    EXPECT_TRUE(ours.message == FromCups(cups));
    ippDelete(cups);
    // The document follows the message, where libcups stops reading too.
    EXPECT_EQ(ours.consumed, cupsConsumed);
    EXPECT_TRUE(ours.consumed == bytes.size() || bytes.compare(ours.consumed, 5, "%PDF-") == 0);
    std::string head = bytes.substr(0, ours.consumed);
    EXPECT_EQ(EncodeIppMessage(ours.message), head);
    for (size_t length = 0; length < head.size(); ++length) {
      IppDecodeResult part = DecodeIppMessage(std::string_view(head).substr(0, length));
      ASSERT_EQ(part.status, IppDecodeStatus::kIncomplete) << "cut at " << length << ": " << part.error;
    }
  }
  EXPECT_EQ(files, 18u);
}

// Every kind of value, collections three deep and a 1setOf of them, groups of one tag twice:
// libcups reads what we write as we meant it, and writes it back octet for octet.
TEST(IppCodec, LibcupsAndWeReadWhatTheOtherWrites) {
  IppMessage message{1, 1, 0x0400, INT32_MAX, {}};
  IppGroup& operation = message.groups.emplace_back();
  AddIppAttribute(operation, "attributes-charset", {IppString(IppTag::kCharset, "utf-8")});
  IppValue name = IppString(IppTag::kNameWithLanguage, "Grüße");
  name.language = "de-ch";
  IppValue text = IppString(IppTag::kTextWithLanguage, "");
  text.language = "fr";
  AddIppAttribute(operation, "job-name", {name});
  AddIppAttribute(operation, "message", {text});
  AddIppAttribute(operation, "document-password", {IppString(IppTag::kOctetString, std::string("\0\xff\x01", 3))});
  IppGroup& job = message.groups.emplace_back(IppGroup{IppTag::kJobGroup, {}});
  AddIppAttribute(job, "time-at-creation", {IppDateTime(4102444800 + 86399)});
  AddIppAttribute(job, "printer-resolution", {IppResolution(300, 300), IppResolution(118, 236, 4)});
  AddIppAttribute(job, "page-ranges", {IppRange(-5, 70000)});
  AddIppAttribute(job, "numbers", {IppInteger(INT32_MIN), IppInteger(-1)});
  AddIppAttribute(job, "finishings", {IppEnum(0x3c)});
  AddIppAttribute(job, "color", {IppBoolean(true)});
  for (IppTag tag : {IppTag::kUnsupported, IppTag::kUnknown, IppTag::kNoValue, IppTag::kNotSettable,
                     IppTag::kDeleteAttribute, IppTag::kAdminDefine}) {
    AddIppAttribute(job, "out-of-band-" + std::to_string(static_cast<int>(tag)), {IppOutOfBand(tag)});
  }
  IppValue size = IppCollection({{"x-dimension", {IppInteger(21000)}}, {"y-dimension", {IppInteger(29700)}}});
  IppValue mediaCol =
      IppCollection({{"media-size", {size, size}}, {"media-source", {IppString(IppTag::kKeyword, "auto")}}});
  AddIppAttribute(message.groups.emplace_back(IppGroup{IppTag::kSystemGroup, {}}), "system-col",
                  {IppCollection({{"media-col", {mediaCol, size}}}), size});
  AddIppAttribute(message.groups.emplace_back(IppGroup{IppTag::kSystemGroup, {}}), "uri-scheme",
                  {IppString(IppTag::kUriScheme, "ipp")});
  std::string bytes = EncodeIppMessage(message);
  size_t consumed = 0;
  ipp_t* cups = CupsDecode(bytes + "document", consumed);
  EXPECT_EQ(consumed, bytes.size());
  EXPECT_TRUE(FromCups(cups) == message);
  std::string cupsBytes;
  ippSetState(cups, IPP_STATE_IDLE);
  EXPECT_EQ(ippWriteIO(&cupsBytes, CupsWrite, 1, nullptr, cups), IPP_STATE_DATA);
  EXPECT_EQ(cupsBytes, bytes);
  IppDecodeResult ours = DecodeIppMessage(cupsBytes);
  EXPECT_TRUE(ours.message == message) << ours.error;
  ippDelete(cups);
  // Before 1970, a leap day, the last second of a day in 2100.
  for (int64_t seconds : {int64_t{-86400 * 366}, int64_t{951782400}, int64_t{4102444800 + 86399}}) {
    EXPECT_EQ(IppDateTime(seconds).text, std::string(reinterpret_cast<const char*>(ippTimeToDate(seconds)), 11))
        << seconds;
  }
}

}  // namespace
