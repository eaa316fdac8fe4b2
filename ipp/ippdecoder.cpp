// The decoder: one pass over the octets, refusing at the first octet past a limit.
#include "ipp/ippmessage.h"
#include "ipp/ippvalueform.h"

#include <utility>

namespace {

constexpr uint16_t kEntityTooLarge = 0x0408;  // client-error-request-entity-too-large
constexpr uint16_t kValueTooLong = 0x0409;    // client-error-request-value-too-long

uint16_t Read16(const char* p) {
  return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) << 8 | static_cast<uint8_t>(p[1]));
}

int32_t Read32(const char* p) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(p[i]);
  return static_cast<int32_t>(value);
}

// One record as it travels: a delimiter tag alone, or tag, name and value.
struct Record {
  uint8_t tag = 0;
  std::string_view name;
  std::string_view value;
};

// The attribute or member whose values are being read: built, or only counted.
struct Slot {
  std::string_view name;
  size_t values = 0;
  IppAttribute* attribute = nullptr;  // null when only checking
};

// Reads a message into `message`, or with none only checks it: the same verdict either way.
class Decoder {
 public:
  Decoder(std::string_view bytes, const IppLimits& limits, IppDecodeResult& result, IppMessage* message)
      : bytes_(bytes), limits_(limits), result_(result), message_(message) {}

  // On false result_ says why.
  bool Run() {
    if (!Need(8)) return false;
    if (message_ != nullptr) {
      message_->versionMajor = static_cast<uint8_t>(bytes_[0]);
      message_->versionMinor = static_cast<uint8_t>(bytes_[1]);
      message_->code = Read16(bytes_.data() + 2);
      message_->requestId = Read32(bytes_.data() + 4);
    }
    pos_ = 8;
    bool inGroup = false;
    Slot slot;
    for (;;) {
      Record record;
      if (!ReadRecord(record)) return false;
      IppValueForm form = IppValueFormOf(record.tag);
      if (record.tag == static_cast<uint8_t>(IppTag::kEndOfAttributes)) {
        result_.consumed = pos_;
        return true;
      }
      if (form == IppValueForm::kDelimiter) {
        if (record.tag == 0) return Malformed("reserved delimiter tag 0x00");
        if (message_ != nullptr) message_->groups.push_back(IppGroup{static_cast<IppTag>(record.tag), {}});
        inGroup = true;
        slot = Slot();
        continue;
      }
      if (!inGroup) return Malformed("an attribute before the first group");
      if (form == IppValueForm::kEndCollection || form == IppValueForm::kMemberName) {
        return Malformed("a collection's member outside a collection");
      }
      if (record.name.empty()) {
        if (slot.name.empty()) return Malformed("an additional value with no attribute before it");
      } else {
        if (!CountAttribute()) return false;
        slot = Slot{record.name, 0, Add(message_ ? &message_->groups.back().attributes : nullptr, record.name)};
      }
      if (!AddValue(slot, record, 0)) return false;
    }
  }

 private:
  // True when `count` octets follow pos_ within the head limit.
  bool Need(size_t count) {
    if (count > limits_.maxMessageBytes || pos_ > limits_.maxMessageBytes - count) {
      return TooLarge(kEntityTooLarge,
                      "the message head is over " + std::to_string(limits_.maxMessageBytes) + " octets");
    }
    if (count > bytes_.size() - pos_) {
      result_.status = IppDecodeStatus::kIncomplete;
      return false;
    }
    return true;
  }

  bool Malformed(std::string error) {
    result_.status = IppDecodeStatus::kMalformed;
    result_.error = std::move(error);
    return false;
  }

  bool TooLarge(uint16_t ippStatus, std::string error) {
    result_.status = IppDecodeStatus::kTooLarge;
    result_.ippStatus = ippStatus;
    result_.error = std::move(error);
    return false;
  }

  bool CountAttribute() {
    if (++attributeCount_ <= limits_.maxAttributes) return true;
    return TooLarge(kEntityTooLarge, "over " + std::to_string(limits_.maxAttributes) + " attributes");
  }

  // The longest text a value of this tag may carry: names and the words of a protocol are
  // shorter than text, uris and octet strings (RFC 8011 section 5.1).
  size_t TextLimit(uint8_t tag) const {
    switch (static_cast<IppTag>(tag)) {
      case IppTag::kNameWithLanguage:
      case IppTag::kNameWithoutLanguage:
      case IppTag::kKeyword:
      case IppTag::kUriScheme:
      case IppTag::kCharset:
      case IppTag::kNaturalLanguage:
      case IppTag::kMimeMediaType:
      case IppTag::kMemberAttrName:
        return limits_.maxNameBytes;
      default:
        return limits_.maxValueBytes;
    }
  }

  // With a language, the language and its two lengths come on top of the text.
  size_t ValueLimit(uint8_t tag) const {
    size_t text = TextLimit(tag);
    return IppValueFormOf(tag) == IppValueForm::kWithLanguage ? text + limits_.maxNameBytes + 4 : text;
  }

  bool ReadRecord(Record& record) {
    if (!Need(1)) return false;
    record.tag = static_cast<uint8_t>(bytes_[pos_++]);
    IppValueForm form = IppValueFormOf(record.tag);
    if (form == IppValueForm::kDelimiter) return true;
    if (form == IppValueForm::kExtension) return Malformed("extension value tag 0x7f");
    if (!Need(2)) return false;
    size_t nameLength = Read16(bytes_.data() + pos_);
    pos_ += 2;
    if (nameLength > limits_.maxNameBytes) {
      return TooLarge(kValueTooLong, "an attribute name of " + std::to_string(nameLength) + " octets");
    }
    if (!Need(nameLength + 2)) return false;
    record.name = bytes_.substr(pos_, nameLength);
    pos_ += nameLength;
    size_t valueLength = Read16(bytes_.data() + pos_);
    pos_ += 2;
    if (valueLength > ValueLimit(record.tag)) {
      return TooLarge(kValueTooLong, "a value of " + std::to_string(valueLength) + " octets");
    }
    if (!Need(valueLength)) return false;
    record.value = bytes_.substr(pos_, valueLength);
    pos_ += valueLength;
    return true;
  }

  static IppAttribute* Add(std::vector<IppAttribute>* attributes, std::string_view name) {
    return attributes != nullptr ? &attributes->emplace_back(IppAttribute{std::string(name), {}}) : nullptr;
  }

  bool AddValue(Slot& slot, const Record& record, int depth) {
    if (slot.values++ == limits_.maxValues) {
      return TooLarge(kEntityTooLarge,
                      std::string(slot.name) + " has over " + std::to_string(limits_.maxValues) + " values");
    }
    IppValue& value = slot.attribute != nullptr ? slot.attribute->values.emplace_back() : scratch_;
    value.tag = static_cast<IppTag>(record.tag);
    return IppValueFormOf(record.tag) == IppValueForm::kBeginCollection
               ? ReadMembers(slot.attribute != nullptr ? &value.members : nullptr, depth + 1)
               : FillValue(value, record.value, slot.name);
  }

  // The member records of a collection, up to its endCollection.
  bool ReadMembers(std::vector<IppAttribute>* members, int depth) {
    if (depth > limits_.maxCollectionDepth) {
      return TooLarge(kEntityTooLarge,
                      "collections nested over " + std::to_string(limits_.maxCollectionDepth) + " deep");
    }
    Slot member;
    for (;;) {
      Record record;
      if (!ReadRecord(record)) return false;
      IppValueForm form = IppValueFormOf(record.tag);
      if (form == IppValueForm::kDelimiter) return Malformed("a collection not closed");
      if (!record.name.empty()) return Malformed("a named attribute inside a collection");
      if (!member.name.empty() && member.values == 0 &&
          (form == IppValueForm::kEndCollection || form == IppValueForm::kMemberName)) {
        return Malformed("member " + std::string(member.name) + " has no value");
      }
      if (form == IppValueForm::kEndCollection) return true;
      if (form == IppValueForm::kMemberName) {
        if (record.value.empty()) return Malformed("a member with an empty name");
        if (!CountAttribute()) return false;
        member = Slot{record.value, 0, Add(members, record.value)};
        continue;
      }
      if (member.name.empty()) return Malformed("a collection value before its member's name");
      if (!AddValue(member, record, depth)) return false;
    }
  }

  // A value of a simple form from its octets.
  bool FillValue(IppValue& value, std::string_view octets, std::string_view name) {
    const char* p = octets.data();
    auto sized = [&](size_t length) {
      return octets.size() == length || Malformed(std::string(name) + ": a value of the wrong length");
    };
    switch (IppValueFormOf(static_cast<uint8_t>(value.tag))) {
      case IppValueForm::kOutOfBand:
        return true;  // any octets carry no meaning
      case IppValueForm::kInteger:
        if (!sized(4)) return false;
        value.integer = Read32(p);
        return true;
      case IppValueForm::kBoolean:
        if (!sized(1)) return false;
        if (p[0] != 0 && p[0] != 1) return Malformed(std::string(name) + ": a boolean neither 0 nor 1");
        value.integer = p[0];
        return true;
      case IppValueForm::kResolution:
        if (!sized(9)) return false;
        value.integer = Read32(p);
        value.upper = Read32(p + 4);
        value.units = static_cast<int8_t>(p[8]);
        return true;
      case IppValueForm::kRange:
        if (!sized(8)) return false;
        value.integer = Read32(p);
        value.upper = Read32(p + 4);
        return true;
      case IppValueForm::kDateTime:
        if (!sized(11)) return false;
        value.text = octets;
        return true;
      case IppValueForm::kWithLanguage:
        return FillWithLanguage(value, octets, name);
      default:
        value.text = octets;
        return true;
    }
  }

  bool FillWithLanguage(IppValue& value, std::string_view octets, std::string_view name) {
    size_t languageLength = octets.size() >= 4 ? Read16(octets.data()) : 0;
    if (octets.size() < languageLength + 4) return Malformed(std::string(name) + ": a language longer than its value");
    size_t textLength = Read16(octets.data() + 2 + languageLength);
    if (octets.size() != languageLength + 4 + textLength)
      return Malformed(std::string(name) + ": text lengths that do not add up");
    if (languageLength > limits_.maxNameBytes || textLength > TextLimit(static_cast<uint8_t>(value.tag))) {
      return TooLarge(kValueTooLong, std::string(name) + ": a value of " + std::to_string(octets.size()) + " octets");
    }
    value.language = octets.substr(2, languageLength);
    value.text = octets.substr(4 + languageLength);
    return true;
  }

  std::string_view bytes_;
  const IppLimits& limits_;
  IppDecodeResult& result_;
  IppMessage* message_;
  IppValue scratch_;  // where a check puts the values it reads
  size_t pos_ = 0;
  size_t attributeCount_ = 0;
};

}  // namespace

IppDecodeResult DecodeIppMessage(std::string_view bytes, const IppLimits& limits) {
  IppDecodeResult result;
  // A check first, building nothing: a head still arriving (a caller may try after every
  // piece) or one refused costs a pass over its records, not a copy of every value.
  if (Decoder(bytes, limits, result, nullptr).Run() && Decoder(bytes, limits, result, &result.message).Run()) {
    result.status = IppDecodeStatus::kComplete;
  } else {
    result.message = IppMessage();  // a refused message is not half handed on
    result.consumed = 0;
  }
  return result;
}
