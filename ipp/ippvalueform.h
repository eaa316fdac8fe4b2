// How a tag's value travels, shared by the encoder and the decoder of ippmessage.h.
#pragma once

#include <cstdint>

enum class IppValueForm {
  kDelimiter,     // 0x00-0x0f: a group begins, or the attributes end
  kOutOfBand,     // no value octets
  kInteger,       // 4 octets, signed, big-endian
  kBoolean,       // 1 octet, 0 or 1
  kDateTime,      // 11 octets, kept as they came
  kResolution,    // 4 + 4 + 1 octets
  kRange,         // 4 + 4 octets
  kWithLanguage,  // 2-octet length, language, 2-octet length, text
  kBeginCollection,
  kEndCollection,
  kMemberName,
  kExtension,  // 0x7f: the real tag is in the value; refused
  kOctets,     // every other tag: the octets as they came
};

inline IppValueForm IppValueFormOf(uint8_t tag) {
  if (tag < 0x10) return IppValueForm::kDelimiter;
  if (tag < 0x20) return IppValueForm::kOutOfBand;
  switch (tag) {
    case 0x21:  // integer
    case 0x23:  // enum
      return IppValueForm::kInteger;
    case 0x22:
      return IppValueForm::kBoolean;
    case 0x31:
      return IppValueForm::kDateTime;
    case 0x32:
      return IppValueForm::kResolution;
    case 0x33:
      return IppValueForm::kRange;
    case 0x34:
      return IppValueForm::kBeginCollection;
    case 0x35:  // textWithLanguage
    case 0x36:  // nameWithLanguage
      return IppValueForm::kWithLanguage;
    case 0x37:
      return IppValueForm::kEndCollection;
    case 0x4a:
      return IppValueForm::kMemberName;
    case 0x7f:
      return IppValueForm::kExtension;
    default:
      return IppValueForm::kOctets;
  }
}
