// HTTP dates (RFC 1123, always GMT, English names whatever the locale).
#include "httpengine/engine-private.h"

#include <charconv>

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // 1970-01-01 was a Thursday

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

bool take_number(std::string_view& text, int& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

bool take_text(std::string_view& text, std::string_view expected) {
  if (!text.starts_with(expected)) return false;
  text.remove_prefix(expected.size());
  return true;
}

}  // namespace

std::string format_http_date(time_t when) {
  const int64_t days = (when >= 0 ? when : when - 86399) / 86400;
  const int64_t seconds = when - days * 86400;
  // Civil date from the day count (inverse of days_from_civil).
  const int64_t shifted = days + 719468;
  const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(shifted - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned month_index = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const unsigned month = month_index < 10 ? month_index + 3 : month_index - 9;
  const int64_t year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2);
  char text[64];
  snprintf(text, sizeof text, "%s, %02u %s %04lld %02d:%02d:%02d GMT", kWeekdays[((days % 7) + 7) % 7], day,
           kMonths[month - 1], static_cast<long long>(year), static_cast<int>(seconds / 3600),
           static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

bool parse_http_date(std::string_view text, time_t& when) {
  const size_t comma = text.find(", ");
  if (comma == std::string_view::npos) return false;
  text.remove_prefix(comma + 2);
  int day, year, hour, minute, second;
  if (!take_number(text, day) || !take_text(text, " ") || text.size() < 4) return false;
  int month = 0;
  while (month < 12 && !text.starts_with(kMonths[month])) ++month;
  if (month == 12) return false;
  text.remove_prefix(3);
  if (!take_text(text, " ") || !take_number(text, year) || !take_text(text, " ") || !take_number(text, hour) ||
      !take_text(text, ":") || !take_number(text, minute) || !take_text(text, ":") || !take_number(text, second) ||
      !take_text(text, " GMT")) {
    return false;
  }
  if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1970 || year > 9999) return false;
  when = static_cast<time_t>(days_from_civil(year, static_cast<unsigned>(month + 1), static_cast<unsigned>(day)) * 86400 +
                             hour * 3600 + minute * 60 + second);
  return true;
}
