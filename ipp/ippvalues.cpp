// Finding groups and attributes, and building values.
#include "ipp/ippmessage.h"

#include <utility>

const IppGroup* FindIppGroup(const IppMessage& message, IppTag tag) {
  for (const IppGroup& group : message.groups) {
    if (group.tag == tag) return &group;
  }
  return nullptr;
}

const IppAttribute* FindIppAttribute(const IppGroup& group, std::string_view name) {
  for (const IppAttribute& attribute : group.attributes) {
    if (attribute.name == name) return &attribute;
  }
  return nullptr;
}

namespace {

IppValue Numbers(IppTag tag, int32_t integer, int32_t upper = 0, int8_t units = 0) {
  IppValue value;
  value.tag = tag;
  value.integer = integer;
  value.upper = upper;
  value.units = units;
  return value;
}

// Days since 1970-01-01 to the civil date (proleptic Gregorian), for any day.
void CivilDate(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;  // from 0000-03-01, so that the leap day ends each 400-year era's years
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
  day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

}  // namespace

IppValue IppInteger(int32_t value) { return Numbers(IppTag::kInteger, value); }
IppValue IppEnum(int32_t value) { return Numbers(IppTag::kEnum, value); }
IppValue IppBoolean(bool value) { return Numbers(IppTag::kBoolean, value ? 1 : 0); }
IppValue IppRange(int32_t lower, int32_t upper) { return Numbers(IppTag::kRangeOfInteger, lower, upper); }
IppValue IppResolution(int32_t crossFeed, int32_t feed, int8_t units) {
  return Numbers(IppTag::kResolution, crossFeed, feed, units);
}

IppValue IppString(IppTag tag, std::string text) {
  IppValue value;
  value.tag = tag;
  value.text = std::move(text);
  return value;
}

IppValue IppOutOfBand(IppTag tag) { return Numbers(tag, 0); }

IppValue IppCollection(std::vector<IppAttribute> members) {
  IppValue value;
  value.tag = IppTag::kBeginCollection;
  value.members = std::move(members);
  return value;
}

IppValue IppDateTime(int64_t secondsSince1970) {
  int64_t days = secondsSince1970 >= 0 ? secondsSince1970 / 86400 : (secondsSince1970 - 86399) / 86400;
  int64_t secondOfDay = secondsSince1970 - days * 86400;
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilDate(days, year, month, day);
  // RFC 2579 DateAndTime: year (2 octets), month, day, hour, minutes, seconds, deci-seconds,
  // then the offset from UTC: '+', hours, minutes.
  std::string octets;
  octets += static_cast<char>(year >> 8 & 0xff);
  octets += static_cast<char>(year & 0xff);
  for (int64_t part :
       {int64_t{month}, int64_t{day}, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, int64_t{0}}) {
    octets += static_cast<char>(part);
  }
  octets += '+';
  octets += '\0';
  octets += '\0';
  return IppString(IppTag::kDateTime, std::move(octets));
}

IppAttribute& AddIppAttribute(IppGroup& group, std::string name, std::vector<IppValue> values) {
  return group.attributes.emplace_back(IppAttribute{std::move(name), std::move(values)});
}
