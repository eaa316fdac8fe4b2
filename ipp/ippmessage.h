// IPP messages (RFC 8010 section 3) as plain records, with our own encoder and decoder.
// Portable: no system calls, nothing but the standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Delimiter and value tags, as they travel.
enum class IppTag : uint8_t {
  // Delimiters: the groups of a message.
  kOperationGroup = 0x01,
  kJobGroup = 0x02,
  kEndOfAttributes = 0x03,
  kPrinterGroup = 0x04,
  kUnsupportedGroup = 0x05,
  kSubscriptionGroup = 0x06,
  kEventNotificationGroup = 0x07,
  kResourceGroup = 0x08,
  kDocumentGroup = 0x09,
  kSystemGroup = 0x0a,
  // Out-of-band values (no value bytes).
  kUnsupported = 0x10,
  kUnknown = 0x12,
  kNoValue = 0x13,
  kNotSettable = 0x15,
  kDeleteAttribute = 0x16,
  kAdminDefine = 0x17,
  // Integer values.
  kInteger = 0x21,
  kBoolean = 0x22,
  kEnum = 0x23,
  // Octet-string values.
  kOctetString = 0x30,
  kDateTime = 0x31,
  kResolution = 0x32,
  kRangeOfInteger = 0x33,
  kBeginCollection = 0x34,
  kTextWithLanguage = 0x35,
  kNameWithLanguage = 0x36,
  kEndCollection = 0x37,
  // Character-string values.
  kTextWithoutLanguage = 0x41,
  kNameWithoutLanguage = 0x42,
  kKeyword = 0x44,
  kUri = 0x45,
  kUriScheme = 0x46,
  kCharset = 0x47,
  kNaturalLanguage = 0x48,
  kMimeMediaType = 0x49,
  kMemberAttrName = 0x4a,
};

struct IppAttribute;

// One value. Which fields mean something depends on the tag:
//   integer, enum: `integer`; boolean: `integer` 0 or 1;
//   rangeOfInteger: `integer` (lower) and `upper`;
//   resolution: `integer` (cross-feed), `upper` (feed), `units` (3 dpi, 4 dots/cm);
//   every octet- and character-string tag, dateTime (its 11 octets) and unknown value tags
//   kept as they came: `text`; with-language tags: `language` and `text`;
//   begCollection: `members` (the member attributes, each with its values);
//   out-of-band tags: nothing.
struct IppValue {
  IppTag tag = IppTag::kNoValue;
  int32_t integer = 0;
  int32_t upper = 0;
  int8_t units = 0;
  std::string text;
  std::string language;
  std::vector<IppAttribute> members;

  friend bool operator==(const IppValue&, const IppValue&) = default;
};

// An attribute: its name and one value, or several (a 1setOf).
struct IppAttribute {
  std::string name;
  std::vector<IppValue> values;

  friend bool operator==(const IppAttribute&, const IppAttribute&) = default;
};

struct IppGroup {
  IppTag tag = IppTag::kOperationGroup;
  std::vector<IppAttribute> attributes;

  friend bool operator==(const IppGroup&, const IppGroup&) = default;
};

struct IppMessage {
  uint8_t versionMajor = 2;
  uint8_t versionMinor = 0;
  uint16_t code = 0;  // operation-id in a request, status-code in a response
  int32_t requestId = 0;
  std::vector<IppGroup> groups;  // in the order they travel; a tag may come more than once

  // Equal field by field, in the same order.
  friend bool operator==(const IppMessage&, const IppMessage&) = default;
};

// What a decoder accepts; a message past any of them is refused, not cut.
struct IppLimits {
  size_t maxMessageBytes = 256 * 1024;  // the head: everything up to the end-of-attributes tag
  size_t maxAttributes = 1000;          // attributes in the whole message, members included
  size_t maxValues = 1000;              // values of one attribute
  size_t maxValueBytes = 1023;          // octets of one text, uri or octetString value
  size_t maxNameBytes = 255;            // octets of an attribute's name and of a name, keyword,
                                        // mimeMediaType, charset, naturalLanguage or uriScheme value
  int maxCollectionDepth = 8;           // collections inside collections
};

enum class IppDecodeStatus {
  kComplete,    // the message is whole; `consumed` octets belong to it, the rest is document data
  kIncomplete,  // nothing wrong so far: give it more octets
  kMalformed,   // not an IPP message: answer HTTP 400
  kTooLarge,    // over a limit: answer with `ippStatus`
};

struct IppDecodeResult {
  IppDecodeStatus status = IppDecodeStatus::kIncomplete;
  size_t consumed = 0;
  // For kTooLarge: client-error-request-entity-too-large (0x0408) for the message size,
  // attribute or value counts and depth, client-error-request-value-too-long (0x0409) for a
  // value or name too long.
  uint16_t ippStatus = 0;
  std::string error;  // what was wrong, for the log
  IppMessage message;
};

// Decodes the message at the start of `bytes`. Call again with more octets after
// kIncomplete (the decoder keeps nothing between calls). Every prefix of a good message is
// kIncomplete; one past a limit is refused once the record that passes it has arrived.
// The extension tag 0x7f is refused as kMalformed. Out-of-band values keep no octets.
// A refused message leaves `message` empty. Each call reads from the start, but a head not
// yet whole costs only a check of its records, nothing built. Any thread may call it.
IppDecodeResult DecodeIppMessage(std::string_view bytes, const IppLimits& limits = {});

// The message as it travels: version, code, request-id, the groups in order, and the
// end-of-attributes tag. An attribute without values is left out; a name or value past
// 65535 octets (more than a length can say) is cut.
std::string EncodeIppMessage(const IppMessage& message);

// Reading.
// The first group with this tag, or nullptr.
const IppGroup* FindIppGroup(const IppMessage& message, IppTag tag);
// The first attribute of that name in the group, or nullptr.
const IppAttribute* FindIppAttribute(const IppGroup& group, std::string_view name);

// Building: one value of each kind.
IppValue IppInteger(int32_t value);
IppValue IppEnum(int32_t value);
IppValue IppBoolean(bool value);
IppValue IppRange(int32_t lower, int32_t upper);
IppValue IppResolution(int32_t crossFeed, int32_t feed, int8_t units = 3);
// Any octet- or character-string tag without a language, dateTime included.
IppValue IppString(IppTag tag, std::string text);
IppValue IppOutOfBand(IppTag tag);
IppValue IppCollection(std::vector<IppAttribute> members);
// The 11 octets of a dateTime for a time in seconds since 1970, in UTC.
IppValue IppDateTime(int64_t secondsSince1970);

// Appends an attribute to the group.
IppAttribute& AddIppAttribute(IppGroup& group, std::string name, std::vector<IppValue> values);
