#include "base/eventlog.h"

#include <cstdint>
#include <cstdio>
#include <mutex>

#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/tempfolder.h"

namespace {

constexpr char kLogFolder[] = "OlvaroDesktop/";
constexpr char kLogName[] = "olvaro-desktop.log";
// A full log is kept as ".1" and a new one begun, so both together stay under 2 MiB.
constexpr long kMaxLogBytes = 1024 * 1024;

std::mutex logMutex;
bool echoToStandardError = false;

// Days since 1970-01-01 as a calendar date (proleptic Gregorian).
void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

void WriteLine(const std::string& path, const std::string& line) {
  if (path.empty()) return;
  if (FILE* file = std::fopen(path.c_str(), "a")) {
    std::fputs(line.c_str(), file);
    const long size = std::ftell(file);
    std::fclose(file);
    if (size > kMaxLogBytes) std::rename(path.c_str(), (path + ".1").c_str());
  }
}

}  // namespace

std::string FormatLocalTime(uint64_t fileTime) {
  constexpr uint64_t kTicksPerSecond = 10000000;
  const int64_t seconds = static_cast<int64_t>(fileTime / kTicksPerSecond) -
                          static_cast<int64_t>(kFileTimeUnixEpoch / kTicksPerSecond);
  const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t secondOfDay = seconds - days * 86400;
  int year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", year, month, day,
                static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                static_cast<int>(secondOfDay % 60));
  return text;
}

std::string EventLogPath() {
  const std::string state = GetUserStateFolder();
  if (state.empty()) return {};
  const std::string folder = state + kLogFolder;
  return EnsurePrivateFolder(folder) ? folder + kLogName : std::string();
}

void LogEvent(const std::string& message) {
  const std::string line = FormatLocalTime(GetLocalFileTime()) + " " + OneLine(message) + "\n";
  std::lock_guard<std::mutex> lock(logMutex);
  WriteLine(EventLogPath(), line);
  if (echoToStandardError) std::fputs(line.c_str(), stderr);
}

void SetEventLogEcho(bool echo) {
  std::lock_guard<std::mutex> lock(logMutex);
  echoToStandardError = echo;
}
