// The tick counter, the local time and the time-zone record.
#include <time.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "platform/platform.h"

namespace quern::platform {
namespace {

int64_t MonotonicMilliseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

SystemTime ToSystemTime(const struct tm& broken, int milliseconds) {
  SystemTime t;
  t.year = static_cast<uint16_t>(broken.tm_year + 1900);
  t.month = static_cast<uint16_t>(broken.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(broken.tm_wday);
  t.day = static_cast<uint16_t>(broken.tm_mday);
  t.hour = static_cast<uint16_t>(broken.tm_hour);
  t.minute = static_cast<uint16_t>(broken.tm_min);
  t.second = static_cast<uint16_t>(broken.tm_sec);
  t.milliseconds = static_cast<uint16_t>(milliseconds);
  return t;
}

struct Sample {
  bool daylight = false;
  long offset = 0;  // seconds east of UTC
};

Sample SampleAt(time_t when) {
  struct tm local {};
  localtime_r(&when, &local);
  return {local.tm_isdst > 0, local.tm_gmtoff};
}

// The first second at or after `from` (and no later than `to`) whose daylight flag differs from
// the one at `from`.
time_t FirstChange(time_t from, time_t to) {
  const bool before = SampleAt(from).daylight;
  while (to - from > 1) {
    time_t middle = from + (to - from) / 2;
    if (SampleAt(middle).daylight == before)
      from = middle;
    else
      to = middle;
  }
  return to;
}

// The wall-clock time `offset` seconds east of UTC at the instant `when`.
SystemTime WallClock(time_t when, long offset) {
  time_t shifted = when + offset;
  struct tm broken {};
  gmtime_r(&shifted, &broken);
  return ToSystemTime(broken, 0);
}

time_t LocalMidnightOfNewYear(int year) {
  struct tm start {};
  start.tm_year = year - 1900;
  start.tm_mday = 1;
  start.tm_isdst = -1;
  return mktime(&start);
}

TimeZoneRecord& CurrentZone() {
  static TimeZoneRecord zone = [] {
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    return BuildTimeZoneRecord(local.tm_year + 1900);
  }();
  return zone;
}

}  // namespace

int32_t TickCount() {
  static const int64_t start = MonotonicMilliseconds();
  return static_cast<int32_t>(static_cast<uint32_t>(MonotonicMilliseconds() - start + 1));
}

SystemTime LocalTimeNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  return ToSystemTime(local, static_cast<int>(now.tv_nsec / 1000000));
}

TimeZoneRecord BuildTimeZoneRecord(int year) {
  tzset();
  const time_t begin = LocalMidnightOfNewYear(year), end = LocalMidnightOfNewYear(year + 1);

  std::optional<long> standardOffset, daylightOffset;
  std::optional<time_t> daylightStart, daylightEnd;
  Sample previous = SampleAt(begin);
  time_t previousTime = begin;
  // Daylight saving changes at most a few times a year and never twice within a day, so a
  // daily look finds every change; each is then narrowed to its second.
  for (time_t t = begin;; t += 86400) {
    if (t > end) t = end;
    Sample sample = SampleAt(t);
    (sample.daylight ? daylightOffset : standardOffset).emplace(sample.offset);
    if (sample.daylight != previous.daylight) {
      time_t change = FirstChange(previousTime, t);
      if (sample.daylight && !daylightStart) daylightStart = change;
      if (!sample.daylight && !daylightEnd) daylightEnd = change;
    }
    previous = sample;
    previousTime = t;
    if (t == end) break;
  }

  TimeZoneRecord record;
  if (!daylightOffset || !standardOffset || !daylightStart || !daylightEnd) {
    long offset = standardOffset ? *standardOffset : daylightOffset.value_or(0);
    record.bias = static_cast<int32_t>(-offset / 60);
    return record;
  }
  // Some zones call their winter time the daylight one (a negative saving); Windows always
  // records the smaller offset as standard time.
  if (*daylightOffset < *standardOffset) {
    std::swap(*daylightOffset, *standardOffset);
    std::swap(*daylightStart, *daylightEnd);
  }
  record.bias = static_cast<int32_t>(-*standardOffset / 60);
  record.daylightBias = static_cast<int32_t>(-(*daylightOffset - *standardOffset) / 60);
  // Windows gives each change in the wall-clock time that is about to end.
  record.daylightDate = WallClock(*daylightStart, *standardOffset);
  record.standardDate = WallClock(*daylightEnd, *daylightOffset);
  return record;
}

const TimeZoneRecord& TimeZone() {
  return CurrentZone();
}

void InstallTimeZone(const TimeZoneRecord& record) {
  CurrentZone() = record;
}

}  // namespace quern::platform
