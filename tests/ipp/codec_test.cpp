// The codec against libcups, which reads and writes the same wire format: captured requests
// and answers (data/capture.py says how they were made) round trip byte for byte and read
// as libcups reads them, each side decodes what the other encodes, and bad messages get
// their answer.
#include "ipp/ippmessage.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

struct CupsBuffer {
  std::string bytes;
  size_t pos = 0;
};

ssize_t CupsRead(void* context, ipp_uchar_t* buffer, size_t length) {
  auto* in = static_cast<CupsBuffer*>(context);
  length = in->bytes.copy(reinterpret_cast<char*>(buffer), length, in->pos);
  in->pos += length;
  return static_cast<ssize_t>(length);
}

ssize_t CupsWrite(void* context, ipp_uchar_t* buffer, size_t length) {
  static_cast<CupsBuffer*>(context)->bytes.append(reinterpret_cast<char*>(buffer), length);
  return static_cast<ssize_t>(length);
}

// The message libcups reads from the start of `bytes`, and how many octets it took.
ipp_t* CupsDecode(const std::string& bytes, size_t& consumed) {
  CupsBuffer in{bytes};
  ipp_t* message = ippNew();
  EXPECT_EQ(ippReadIO(&in, CupsRead, 1, nullptr, message), IPP_STATE_DATA);
  consumed = in.pos;
  return message;
}

std::string CupsEncode(ipp_t* message) {
  CupsBuffer out;
  ippSetState(message, IPP_STATE_IDLE);
  EXPECT_EQ(ippWriteIO(&out, CupsWrite, 1, nullptr, message), IPP_STATE_DATA);
  return out.bytes;
}

// Both sides rendered alike: one line per attribute, "group name: tag=value...".
std::string Render(const std::vector<IppAttribute>& attributes, const std::string& group);

std::string Render(const IppValue& value) {
  std::string out = std::to_string(static_cast<int>(value.tag)) + "=";
  switch (value.tag) {
    case IppTag::kInteger:
    case IppTag::kEnum:
    case IppTag::kBoolean:
      return out + std::to_string(value.integer);
    case IppTag::kRangeOfInteger:
      return out + std::to_string(value.integer) + "-" + std::to_string(value.upper);
    case IppTag::kResolution:
      return out + std::to_string(value.integer) + "x" + std::to_string(value.upper) + "/" +
             std::to_string(value.units);
    case IppTag::kBeginCollection:
      return out + "{\n" + Render(value.members, "  ") + "}";
    case IppTag::kTextWithLanguage:
    case IppTag::kNameWithLanguage:
      return out + value.language + "|" + value.text;
    default:
      return out + value.text;
  }
}

std::string Render(const std::vector<IppAttribute>& attributes, const std::string& group) {
  std::string out;
  for (const IppAttribute& attribute : attributes) {
    out += group + attribute.name + ":";
    for (const IppValue& value : attribute.values) out += " " + Render(value);
    out += "\n";
  }
  return out;
}

std::string Render(const IppMessage& message) {
  std::string out = std::to_string(message.versionMajor) + "." + std::to_string(message.versionMinor) + " " +
                    std::to_string(message.code) + " " + std::to_string(message.requestId) + "\n";
  for (const IppGroup& group : message.groups) {
    out += Render(group.attributes, std::to_string(static_cast<int>(group.tag)) + " ");
  }
  return out;
}

std::string RenderCups(ipp_t* message, const std::string& indent);

std::string RenderCups(ipp_attribute_t* attribute, int i) {
  ipp_tag_t tag = ippGetValueTag(attribute);
  std::string out = std::to_string(tag) + "=";
  int upper = 0;
  ipp_res_t units = IPP_RES_PER_INCH;
  const char* language = nullptr;
  switch (tag) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM:
      return out + std::to_string(ippGetInteger(attribute, i));
    case IPP_TAG_BOOLEAN:
      return out + std::to_string(ippGetBoolean(attribute, i));
    case IPP_TAG_RANGE: {
      int lower = ippGetRange(attribute, i, &upper);
      return out + std::to_string(lower) + "-" + std::to_string(upper);
    }
    case IPP_TAG_RESOLUTION: {
      int crossFeed = ippGetResolution(attribute, i, &upper, &units);
      return out + std::to_string(crossFeed) + "x" + std::to_string(upper) + "/" + std::to_string(units);
    }
    case IPP_TAG_DATE:
      return out + std::string(reinterpret_cast<const char*>(ippGetDate(attribute, i)), 11);
    case IPP_TAG_BEGIN_COLLECTION:
      return out + "{\n" + RenderCups(ippGetCollection(attribute, i), "  ") + "}";
    case IPP_TAG_STRING: {
      const void* octets = ippGetOctetString(attribute, i, &upper);
      return out + std::string(static_cast<const char*>(octets), upper);
    }
    case IPP_TAG_TEXTLANG:
    case IPP_TAG_NAMELANG:
      out += std::string(ippGetString(attribute, i, &language) ? language : "") + "|";
      break;
    default:
      break;
  }
  const char* text = ippGetString(attribute, i, nullptr);  // null for out-of-band values
  return out + (text != nullptr ? text : "");
}

std::string RenderCups(ipp_t* message, const std::string& indent) {
  std::string out;
  for (ipp_attribute_t* a = ippFirstAttribute(message); a != nullptr; a = ippNextAttribute(message)) {
    if (ippGetName(a) == nullptr) continue;  // libcups' mark between two groups of one tag
    out += indent.empty() ? std::to_string(ippGetGroupTag(a)) + " " : indent;
    out += std::string(ippGetName(a)) + ":";
    for (int i = 0; i < ippGetCount(a); ++i) out += " " + RenderCups(a, i);
    out += "\n";
  }
  return out;
}

std::string RenderCups(ipp_t* message) {
  int minor = 0;
  int major = ippGetVersion(message, &minor);
  return std::to_string(major) + "." + std::to_string(minor) + " " + std::to_string(ippGetStatusCode(message)) + " " +
         std::to_string(ippGetRequestId(message)) + "\n" + RenderCups(message, "");
}

TEST(IppCodec, CapturedMessagesRoundTripAndReadAsLibcupsReadsThem) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(IPP_TEST_DATA)) {
    if (entry.path().extension() == ".ipp") files.push_back(entry.path());
  }
  ASSERT_GE(files.size(), 18u);
  for (const std::filesystem::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    std::ostringstream content;
    content << std::ifstream(file, std::ios::binary).rdbuf();
    std::string bytes = content.str();
    size_t cupsConsumed = 0;
    ipp_t* cups = CupsDecode(bytes, cupsConsumed);
    IppDecodeResult ours = DecodeIppMessage(bytes);
    ASSERT_EQ(ours.status, IppDecodeStatus::kComplete) << ours.error;
    EXPECT_EQ(Render(ours.message), RenderCups(cups));
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
}

// libcups writes every kind of value: we read each as it does and write the same octets.
TEST(IppCodec, DecodesEveryKindOfValueLibcupsEncodes) {
  ipp_t* cups = ippNewRequest(IPP_OP_PRINT_JOB);
  ippSetRequestId(cups, 0x7fffffff);
  ippAddString(cups, IPP_TAG_OPERATION, IPP_TAG_NAMELANG, "job-name", "de-CH", "Grüße");
  ippAddString(cups, IPP_TAG_OPERATION, IPP_TAG_TEXTLANG, "message", "fr", "");
  ippAddOctetString(cups, IPP_TAG_OPERATION, "document-password", "\0\xff\x01", 3);
  ippAddString(cups, IPP_TAG_OPERATION, IPP_TAG_URISCHEME, "scheme", nullptr, "ipp");
  const int numbers[] = {INT32_MIN, -1, 0, INT32_MAX};
  ippAddIntegers(cups, IPP_TAG_JOB, IPP_TAG_INTEGER, "numbers", 4, numbers);
  ippAddDate(cups, IPP_TAG_JOB, "date-time-at-creation", ippTimeToDate(-86400 * 365));
  ippAddResolution(cups, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_CM, 118, 236);
  ippAddRange(cups, IPP_TAG_JOB, "page-ranges", -5, 70000);
  ippAddBoolean(cups, IPP_TAG_JOB, "flag", 0);
  for (ipp_tag_t tag : {IPP_TAG_UNSUPPORTED_VALUE, IPP_TAG_UNKNOWN, IPP_TAG_NOVALUE, IPP_TAG_NOTSETTABLE,
                        IPP_TAG_DELETEATTR, IPP_TAG_ADMINDEFINE}) {
    ippAddOutOfBand(cups, IPP_TAG_DOCUMENT, tag, ippTagString(tag));
  }
  ipp_t* size = ippNew();
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21000);
  ipp_t* inner = ippNew();
  ippAddCollection(inner, IPP_TAG_ZERO, "media-size", size);
  ipp_t* outer = ippNew();
  const ipp_t* mediaCols[] = {inner, size};
  ippAddCollections(outer, IPP_TAG_ZERO, "media-col", 2, mediaCols);
  const char* sources[] = {"auto", "main"};
  ippAddStrings(outer, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", 2, nullptr, sources);
  ippAddCollection(cups, IPP_TAG_SYSTEM, "system-col", outer);
  std::string bytes = CupsEncode(cups);
  IppDecodeResult ours = DecodeIppMessage(bytes);
  ASSERT_EQ(ours.status, IppDecodeStatus::kComplete) << ours.error;
  EXPECT_EQ(Render(ours.message), RenderCups(cups));
  EXPECT_EQ(EncodeIppMessage(ours.message), bytes);
  for (ipp_t* collection : {size, inner, outer, cups}) ippDelete(collection);
}

// What our builders make, libcups reads as we meant it.
TEST(IppCodec, LibcupsReadsWhatWeEncode) {
  IppMessage message;
  message.versionMajor = 1;
  message.versionMinor = 1;
  message.code = 0x0400;
  message.requestId = 9;
  IppGroup& operation = message.groups.emplace_back();
  AddIppAttribute(operation, "attributes-charset", {IppString(IppTag::kCharset, "utf-8")});
  AddIppAttribute(operation, "status-message", {IppString(IppTag::kTextWithoutLanguage, "Ready to print.")});
  IppGroup& printer = message.groups.emplace_back(IppGroup{IppTag::kPrinterGroup, {}});
  AddIppAttribute(printer, "printer-current-time", {IppDateTime(4102444800 + 86399)});  // 2100-01-01 23:59:59
  AddIppAttribute(printer, "printer-resolution-supported", {IppResolution(300, 300), IppResolution(600, 1200, 4)});
  AddIppAttribute(printer, "copies-supported", {IppRange(1, 99)});
  AddIppAttribute(printer, "operations-supported", {IppEnum(2), IppEnum(0x3c)});
  AddIppAttribute(printer, "color-supported", {IppBoolean(true)});
  AddIppAttribute(printer, "printer-geo-location", {IppOutOfBand(IppTag::kUnknown)});
  IppValue size = IppCollection({{"x-dimension", {IppInteger(21000)}}, {"y-dimension", {IppInteger(-1)}}});
  AddIppAttribute(printer, "media-col-database",
                  {IppCollection({{"media-size", {size}}, {"media-source", {IppString(IppTag::kKeyword, "auto")}}}),
                   IppCollection({{"media-size", {size, size}}})});
  message.groups.push_back(IppGroup{IppTag::kPrinterGroup, {}});
  AddIppAttribute(message.groups.back(), "printer-name", {IppString(IppTag::kNameWithoutLanguage, "second")});
  size_t consumed = 0;
  std::string bytes = EncodeIppMessage(message) + "document";
  ipp_t* cups = CupsDecode(bytes, consumed);
  EXPECT_EQ(RenderCups(cups), Render(message));
  EXPECT_EQ(consumed, bytes.size() - 8);
  for (int64_t seconds : {int64_t{-86400 * 366}, int64_t{951782400}, int64_t{4102444800 + 86399}}) {
    EXPECT_EQ(IppDateTime(seconds).text, std::string(reinterpret_cast<const char*>(ippTimeToDate(seconds)), 11))
        << seconds;
  }
  ippDelete(cups);
}

}  // namespace
