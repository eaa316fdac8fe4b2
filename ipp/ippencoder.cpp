// The encoder: the decoder's inverse, writing each value in the form its tag says.
#include "ipp/ippmessage.h"
#include "ipp/ippvalueform.h"

namespace {

constexpr size_t kMaxField = 0xffff;  // the most a 2-octet length can say

void Put16(std::string& out, size_t value) {
  out += static_cast<char>(value >> 8 & 0xff);
  out += static_cast<char>(value & 0xff);
}

void Put32(std::string& out, int32_t value) {
  auto bits = static_cast<uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(bits >> shift & 0xff);
}

// A length-prefixed field; what a 2-octet length cannot say is cut.
void PutField(std::string& out, std::string_view field) {
  field = field.substr(0, kMaxField);
  Put16(out, field.size());
  out += field;
}

void PutValue(std::string& out, std::string_view name, const IppValue& value);

void PutCollection(std::string& out, std::string_view name, const IppValue& value) {
  out += static_cast<char>(IppTag::kBeginCollection);
  PutField(out, name);
  Put16(out, 0);
  for (const IppAttribute& member : value.members) {
    out += static_cast<char>(IppTag::kMemberAttrName);
    Put16(out, 0);
    PutField(out, member.name);
    for (const IppValue& memberValue : member.values) PutValue(out, "", memberValue);
  }
  out += static_cast<char>(IppTag::kEndCollection);
  Put16(out, 0);
  Put16(out, 0);
}

void PutValue(std::string& out, std::string_view name, const IppValue& value) {
  IppValueForm form = IppValueFormOf(static_cast<uint8_t>(value.tag));
  if (form == IppValueForm::kBeginCollection) return PutCollection(out, name, value);
  out += static_cast<char>(value.tag);
  PutField(out, name);
  switch (form) {
    case IppValueForm::kOutOfBand:
      Put16(out, 0);
      return;
    case IppValueForm::kInteger:
      Put16(out, 4);
      Put32(out, value.integer);
      return;
    case IppValueForm::kBoolean:
      Put16(out, 1);
      out += static_cast<char>(value.integer != 0);
      return;
    case IppValueForm::kResolution:
      Put16(out, 9);
      Put32(out, value.integer);
      Put32(out, value.upper);
      out += static_cast<char>(value.units);
      return;
    case IppValueForm::kRange:
      Put16(out, 8);
      Put32(out, value.integer);
      Put32(out, value.upper);
      return;
    case IppValueForm::kWithLanguage: {
      std::string_view language = std::string_view(value.language).substr(0, kMaxField / 2 - 2);
      std::string_view text = std::string_view(value.text).substr(0, kMaxField / 2 - 2);
      Put16(out, language.size() + text.size() + 4);
      PutField(out, language);
      PutField(out, text);
      return;
    }
    default:
      PutField(out, value.text);
      return;
  }
}

}  // namespace

std::string EncodeIppMessage(const IppMessage& message) {
  std::string out;
  out += static_cast<char>(message.versionMajor);
  out += static_cast<char>(message.versionMinor);
  Put16(out, message.code);
  Put32(out, message.requestId);
  for (const IppGroup& group : message.groups) {
    out += static_cast<char>(group.tag);
    for (const IppAttribute& attribute : group.attributes) {
      // The first value carries the name; the rest of a 1setOf follow with an empty one.
      std::string_view name = attribute.name;
      for (const IppValue& value : attribute.values) {
        PutValue(out, name, value);
        name = {};
      }
    }
  }
  out += static_cast<char>(IppTag::kEndOfAttributes);
  return out;
}
