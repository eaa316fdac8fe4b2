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

class Decoder {
 public:
  Decoder(std::string_view bytes, const IppLimits& limits, IppDecodeResult& result)
      : bytes_(bytes), limits_(limits), result_(result) {}

  // Fills result_.message; on false result_ says why.
  bool Run() {
    if (!Need(8)) return false;
    IppMessage& message = result_.message;
    message.versionMajor = static_cast<uint8_t>(bytes_[0]);
    message.versionMinor = static_cast<uint8_t>(bytes_[1]);
    message.code = Read16(bytes_.data() + 2);
    message.requestId = Read32(bytes_.data() + 4);
    pos_ = 8;
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
        message.groups.push_back(IppGroup{static_cast<IppTag>(record.tag), {}});
        continue;
      }
      if (message.groups.empty()) return Malformed("an attribute before the first group");
      if (form == IppValueForm::kEndCollection || form == IppValueForm::kMemberName) {
        return Malformed("a collection's member outside a collection");
      }
      std::vector<IppAttribute>& attributes = message.groups.back().attributes;
      if (record.name.empty()) {
        if (attributes.empty()) return Malformed("an additional value with no attribute before it");
      } else {
        if (!CountAttribute()) return false;
        attributes.push_back(IppAttribute{std::string(record.name), {}});
      }
      if (!AddValue(attributes.back(), record, 0)) return false;
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

  // A value may be text up to maxValueBytes; with a language, the language and its two
  // lengths come on top.
  size_t ValueLimit(IppValueForm form) const {
    if (form == IppValueForm::kMemberName) return limits_.maxNameBytes;
    if (form == IppValueForm::kWithLanguage) return limits_.maxValueBytes + limits_.maxNameBytes + 4;
    return limits_.maxValueBytes;
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
    if (valueLength > ValueLimit(form)) {
      return TooLarge(kValueTooLong, "a value of " + std::to_string(valueLength) + " octets");
    }
    if (!Need(valueLength)) return false;
    record.value = bytes_.substr(pos_, valueLength);
    pos_ += valueLength;
    return true;
  }

  bool AddValue(IppAttribute& attribute, const Record& record, int depth) {
    if (attribute.values.size() >= limits_.maxValues) {
      return TooLarge(kEntityTooLarge, attribute.name + " has over " + std::to_string(limits_.maxValues) + " values");
    }
    IppValue value;
    value.tag = static_cast<IppTag>(record.tag);
    bool ok = IppValueFormOf(record.tag) == IppValueForm::kBeginCollection
                  ? ReadMembers(value.members, depth + 1)
                  : FillValue(value, record.value, attribute.name);
    if (ok) attribute.values.push_back(std::move(value));
    return ok;
  }

  // The member records of a collection, up to its endCollection.
  bool ReadMembers(std::vector<IppAttribute>& members, int depth) {
    if (depth > limits_.maxCollectionDepth) {
      return TooLarge(kEntityTooLarge,
                      "collections nested over " + std::to_string(limits_.maxCollectionDepth) + " deep");
    }
    for (;;) {
      Record record;
      if (!ReadRecord(record)) return false;
      IppValueForm form = IppValueFormOf(record.tag);
      if (form == IppValueForm::kDelimiter) return Malformed("a collection not closed");
      if (!record.name.empty()) return Malformed("a named attribute inside a collection");
      if (!members.empty() && members.back().values.empty() &&
          (form == IppValueForm::kEndCollection || form == IppValueForm::kMemberName)) {
        return Malformed("member " + members.back().name + " has no value");
      }
      if (form == IppValueForm::kEndCollection) return true;
      if (form == IppValueForm::kMemberName) {
        if (record.value.empty()) return Malformed("a member with an empty name");
        if (!CountAttribute()) return false;
        members.push_back(IppAttribute{std::string(record.value), {}});
        continue;
      }
      if (members.empty()) return Malformed("a collection value before its member's name");
      if (!AddValue(members.back(), record, depth)) return false;
    }
  }

  // A value of a simple form from its octets.
  bool FillValue(IppValue& value, std::string_view octets, const std::string& name) {
    const char* p = octets.data();
    auto sized = [&](size_t length) {
      return octets.size() == length || Malformed(name + ": a value of the wrong length");
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
        if (p[0] != 0 && p[0] != 1) return Malformed(name + ": a boolean neither 0 nor 1");
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

  bool FillWithLanguage(IppValue& value, std::string_view octets, const std::string& name) {
    size_t languageLength = octets.size() >= 4 ? Read16(octets.data()) : 0;
    if (octets.size() < languageLength + 4) return Malformed(name + ": a language longer than its value");
    size_t textLength = Read16(octets.data() + 2 + languageLength);
    if (octets.size() != languageLength + 4 + textLength) return Malformed(name + ": text lengths that do not add up");
    if (languageLength > limits_.maxNameBytes || textLength > limits_.maxValueBytes) {
      return TooLarge(kValueTooLong, name + ": a value of " + std::to_string(octets.size()) + " octets");
    }
    value.language = octets.substr(2, languageLength);
    value.text = octets.substr(4 + languageLength);
    return true;
  }

  std::string_view bytes_;
  const IppLimits& limits_;
  IppDecodeResult& result_;
  size_t pos_ = 0;
  size_t attributeCount_ = 0;
};

}  // namespace

IppDecodeResult DecodeIppMessage(std::string_view bytes, const IppLimits& limits) {
  IppDecodeResult result;
  if (Decoder(bytes, limits, result).Run()) {
    result.status = IppDecodeStatus::kComplete;
  } else {
    result.message = IppMessage();  // a refused message is not half handed on
    result.consumed = 0;
  }
  return result;
}
