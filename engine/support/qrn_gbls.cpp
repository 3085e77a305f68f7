#include "engine/support/qrn_gbls.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include "platform/platform.h"

namespace quern {

namespace {

struct ArcTypeNames {
  std::string_view display;
  std::string_view identifier;
};

// The display names fill ten columns of the listing. "Not avail. " is one wider and the MsGZ
// name ends in a tab; the listing layout relies on both, so they stay as they are.
constexpr std::array<ArcTypeNames, kArcTypeCount> kArcTypeNames = {{
    {"Not avail. ", "atNA"},     {"Unsupport.", "atUnsupported"}, {"File Error", "atFileOpenErr"},
    {"Unknown   ", "atUnknown"}, {"ACE       ", "atAce"},         {"ACE SFX   ", "atAceExe"},
    {"ARC       ", "atArc"},     {"ARC SFX   ", "atArcExe"},      {"ARJ       ", "atArj"},
    {"ARJ SFX   ", "atArjExe"},  {"BH        ", "atBh"},          {"BH  SFX   ", "atBhExe"},
    {"CAB       ", "atCab"},     {"CAB SFX   ", "atCabExe"},      {"GZip      ", "atGZip"},
    {"HA        ", "atHA"},      {"Java JAR  ", "atJar"},         {"JJAR SFX  ", "atJarExe"},
    {"LHA       ", "atLha"},     {"LHA SFX   ", "atLhaExe"},      {"LZH       ", "atLzh"},
    {"LZH SFX   ", "atLzhExe"},  {"MsGZ     \t", "atMsGZ"},       {"PAK       ", "atPak"},
    {"PAK SFX   ", "atPakExe"},  {"RAR       ", "atRar"},         {"RAR SFX   ", "atRarExe"},
    {"TAR       ", "atTar"},     {"TarGzip   ", "atTarGZip"},     {"UUE       ", "atUUE"},
    {"ZIP       ", "atZip"},     {"ZIP SFX   ", "atZipExe"},      {"Zip Span  ", "atZipDS"},
    {"Zip MVol  ", "atZipMV"},   {"ZOO       ", "atZoo"},
}};

const ArcTypeNames* NamesOf(TArcType type) {
  return type < kArcTypeCount ? &kArcTypeNames[type] : nullptr;
}

constexpr double kMsPerDay = 86400000.0;
// Days from 1970-01-01 to the date value epoch, 1899-12-30.
constexpr std::int64_t kEpochOffset = -25569;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

std::int64_t SerialDay(int year, int month, int day) {
  return DaysFromCivil(year, month, day) - kEpochOffset;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
  }
  return kDays[month - 1];
}

// 0 = Sunday; day 0 (1899-12-30) was a Saturday.
int WeekDay(std::int64_t serialDay) {
  return static_cast<int>(((serialDay + 6) % 7 + 7) % 7);
}

// The moment a zone transition happens in `year`: an absolute date when `absolute` is set,
// otherwise the recurring "n-th weekday of the month" rule (5 = the last one).
TDateValue TransitionOf(const platform::SystemTime& t, bool absolute, int year) {
  const TDateValue timeOfDay = (t.hour * 60.0 + t.minute) / 1440.0;
  if (absolute) return static_cast<double>(SerialDay(t.year, t.month, t.day)) + timeOfDay;
  std::int64_t day;
  if (t.day >= 1 && t.day <= 4) {
    day = SerialDay(year, t.month, 1);
    while (WeekDay(day) != t.dayOfWeek)
      ++day;
    day += 7 * (t.day - 1);
  } else if (t.day == 5) {
    day = SerialDay(year, t.month, DaysInMonth(year, t.month));
    while (WeekDay(day) != t.dayOfWeek)
      --day;
  } else {
    return static_cast<double>(SerialDay(year, t.month, 1));
  }
  return static_cast<double>(day) + timeOfDay;
}

// The year rule the stored Unix stamps were written with: every fourth year is a leap year,
// centuries included.
bool StampLeapYear(int year) {
  return year % 4 == 0;
}

int StampDaysInMonth(int year, int month) {
  if (month == 2) return StampLeapYear(year) ? 29 : 28;
  return DaysInMonth(year, month);
}

std::string::size_type LastPathDelimiter(std::string_view name) {
  return name.find_last_of("\\:");
}

}  // namespace

std::string_view ArcTypeDisplayName(TArcType type) {
  const ArcTypeNames* names = NamesOf(type);
  return names ? names->display : std::string_view();
}

std::string_view ArcTypeIdentifier(TArcType type) {
  const ArcTypeNames* names = NamesOf(type);
  return names ? names->identifier : std::string_view();
}

bool IsNoArchive(TArcType type) {
  return type == atNA || type == atUnsupported || type == atFileOpenErr || type == atUnknown;
}

bool IsZipFamily(TArcType type) {
  return type == atJar || type == atJarExe || type == atZip || type == atZipExe;
}

std::string AddTrailingBackslash(std::string_view s) {
  std::string result(s);
  // No UTF-8 sequence ends in the byte 0x5C, so a final "\" byte is always a separator.
  if (!result.empty() && result.back() != '\\') result += '\\';
  return result;
}

std::string SlashesToBackslashes(std::string_view s) {
  std::string result(s);
  for (char& c : result)
    if (c == '/') c = '\\';
  return result;
}

std::string OemNameToAnsi(std::string_view name, bool translate) {
  if (name.empty()) return {};
  return SlashesToBackslashes(translate ? platform::OemToAnsi(name) : std::string(name));
}

std::string NormalizeSeparators(std::string_view s) {
  std::string result(s);
  for (std::size_t i = 0; i < result.size(); ++i) {
    const auto b = static_cast<unsigned char>(result[i]);
    if ((b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFD)) {
      // A lead byte: its trail byte may have any value and is not a separator.
      ++i;
    } else if (b == '/' || b == 0xFF) {
      result[i] = '\\';
    }
  }
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t first = 0;
  while (first < result.size() && isBlank(result[first]))
    ++first;
  std::size_t last = result.size();
  while (last > first && isBlank(result[last - 1]))
    --last;
  return result.substr(first, last - first);
}

bool DirectoryPresent(std::string_view path) {
  const auto attributes = platform::GetFileAttributes(path);
  return attributes && (*attributes & platform::kAttrDirectory) != 0;
}

bool NamePresent(std::string_view pathOrPattern) {
  return platform::FindAny(pathOrPattern);
}

bool CreateDirectoryTree(std::string_view path) {
  if (DirectoryPresent(path)) return true;
  const std::string full = AddTrailingBackslash(platform::FullPath(path));
  // Every level is attempted; existing ones (and the drive or root) simply refuse, and the
  // final check decides.
  for (std::size_t pos = full.find('\\'); pos != std::string::npos; pos = full.find('\\', pos + 1))
    platform::CreateDirectory(std::string_view(full).substr(0, pos));
  return DirectoryPresent(path);
}

std::string SplitAtDelimiter(std::string& s, std::string_view delimiter) {
  const auto pos = s.find(delimiter);
  std::string head;
  if (pos == std::string::npos) {
    head.swap(s);
  } else {
    head = s.substr(0, pos);
    s.erase(0, pos + delimiter.size());
  }
  return head;
}

bool IsUncName(std::string_view s) {
  return s.size() > 2 && s[0] == '\\' && s[1] == '\\';
}

std::uint8_t PercentOf(std::int64_t part, std::int64_t total) {
  if (total <= 0) return 0;
  const double percent =
      std::nearbyint(static_cast<double>(part) * 100.0 / static_cast<double>(total));
  if (percent <= 0) return 0;
  if (percent >= 100) return 100;
  return static_cast<std::uint8_t>(percent);
}

TDateValue EncodeDateValue(int year, int month, int day, int hour, int minute, int second,
                           int millisecond) {
  const auto date = static_cast<double>(SerialDay(year, month, day));
  const double time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
  // Before the epoch the whole part counts days back while the time still runs forward.
  return date < 0 ? date - time : date + time;
}

DecodedDate DecodeDateValue(TDateValue value) {
  auto day = static_cast<std::int64_t>(std::trunc(value));
  auto ms = static_cast<std::int64_t>(
      std::llround(std::fabs(value - static_cast<double>(day)) * kMsPerDay));
  if (ms >= static_cast<std::int64_t>(kMsPerDay)) {
    ms -= static_cast<std::int64_t>(kMsPerDay);
    ++day;
  }
  DecodedDate d{};
  CivilFromDays(day + kEpochOffset, d.year, d.month, d.day);
  d.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  d.second = static_cast<int>(ms % 60);
  ms /= 60;
  d.minute = static_cast<int>(ms % 60);
  d.hour = static_cast<int>(ms / 60);
  return d;
}

TDateValue UnixTimeToLocal(std::int32_t seconds) {
  // A zero stamp means "no time stored"; it gets the fixed DOS-era default, not a zone shift.
  if (seconds == 0) return EncodeDateValue(1980, 1, 1, 0, 1, 0);
  std::int64_t s = std::llabs(static_cast<std::int64_t>(seconds));

  int year = 1970;
  std::int64_t length = 0;
  while (s > 0) {
    length = (StampLeapYear(year) ? 366 : 365) * std::int64_t{86400};
    s -= length;
    ++year;
  }
  s += length;
  --year;

  int month = 1;
  while (s > 0) {
    length = StampDaysInMonth(year, month) * std::int64_t{86400};
    s -= length;
    ++month;
  }
  s += length;
  --month;

  // s counts 1..length seconds into the month: the day is the one holding that second, and
  // what is left of s (1..86400) gives the time.
  int day = static_cast<int>((s + 86399) / 86400);
  s -= (day - std::int64_t{1}) * 86400;
  int hour = static_cast<int>(s / 3600);
  int minute = static_cast<int>(s % 3600 / 60);
  int second = static_cast<int>(s % 60);
  if (hour == 24) {
    // A stamp on a whole day lands on the next day's first second.
    hour = 0;
    minute = 0;
    second = 1;
    if (++day > StampDaysInMonth(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
  return UtcToLocalTime(EncodeDateValue(year, month, day, hour, minute, second));
}

TDateValue UtcToLocalTime(TDateValue utc) {
  const platform::TimeZoneRecord& zone = platform::TimeZone();
  const std::int32_t bias =
      zone.bias + (IsDaylightSaving(utc) ? zone.daylightBias : zone.standardBias);
  // UTC = local + bias, in minutes.
  return utc - bias / 1440.0;
}

bool IsDaylightSaving(TDateValue utc) {
  const platform::TimeZoneRecord& zone = platform::TimeZone();
  if (zone.daylightDate.month == 0) return false;
  const bool absolute = zone.standardDate.year != 0;
  const int year = DecodeDateValue(utc).year;
  const TDateValue daylightStart = TransitionOf(zone.daylightDate, absolute, year);
  const TDateValue standardStart = TransitionOf(zone.standardDate, absolute, year);
  if (zone.daylightDate.month < zone.standardDate.month)
    return utc >= daylightStart && utc < standardStart;
  // Southern zones: daylight saving spans the turn of the year.
  return utc < standardStart || utc >= daylightStart;
}

std::uint32_t DateValueToDos(TDateValue value) {
  const DecodedDate d = DecodeDateValue(value);
  if (d.year < 1980 || d.year > 2107) return 0;
  const std::uint32_t time =
      static_cast<std::uint32_t>(d.hour << 11 | d.minute << 5 | d.second / 2);
  const std::uint32_t date =
      static_cast<std::uint32_t>((d.year - 1980) << 9 | d.month << 5 | d.day);
  return date << 16 | time;
}

std::int32_t OctalToInt(std::string_view s) {
  // Unsigned, so that an overlong field wraps instead of overflowing.
  std::uint32_t value = 0;
  for (char c : s)
    if (c >= '0' && c <= '7') value = value * 8 + static_cast<std::uint32_t>(c - '0');
  return static_cast<std::int32_t>(value);
}

std::string ExtractFilePath(std::string_view name) {
  const auto pos = LastPathDelimiter(name);
  return pos == std::string::npos ? std::string() : std::string(name.substr(0, pos + 1));
}

std::string ExtractFileName(std::string_view name) {
  const auto pos = LastPathDelimiter(name);
  return std::string(pos == std::string::npos ? name : name.substr(pos + 1));
}

std::string ExtractFileDir(std::string_view name) {
  std::string path = ExtractFilePath(name);
  const std::size_t n = path.size();
  // A root ("\", "C:\", "\\") keeps its separator; it would name something else without it.
  if (n > 1 && path[n - 1] == '\\' && path[n - 2] != ':' && path[n - 2] != '\\') path.pop_back();
  return path;
}

}  // namespace quern
