#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "engine/support/qrn_gbls.h"
#include "platform/platform.h"

namespace quern {
namespace {

std::string Show(TDateValue value) {
  const DecodedDate d = DecodeDateValue(value);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day,
                d.hour, d.minute, d.second, d.millisecond);
  return text;
}

TEST(DateValues, EncodeAndDecode) {
  struct Row {
    const char* name;
    int year, month, day, hour, minute, second, millisecond;
    TDateValue value;
  };
  const Row rows[] = {
      {"epoch", 1899, 12, 30, 0, 0, 0, 0, 0.0},
      {"1900 is no leap year", 1900, 3, 1, 0, 0, 0, 0, 61.0},
      {"2000 is a leap year", 2000, 3, 1, 0, 0, 0, 0, 36586.0},
      {"noon", 2000, 1, 1, 12, 0, 0, 0, 36526.5},
      {"Unix epoch plus six hours", 1970, 1, 1, 6, 0, 0, 0, 25569.25},
      {"last millisecond of a day", 2024, 2, 29, 23, 59, 59, 999, 45351 + 86399999 / 86400000.0},
      {"first millisecond", 2024, 3, 1, 0, 0, 0, 1, 45352 + 1 / 86400000.0},
      {"before the epoch: time runs forward", 1899, 12, 29, 6, 0, 0, 0, -1.25},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_NEAR(EncodeDateValue(row.year, row.month, row.day, row.hour, row.minute, row.second,
                                row.millisecond),
                row.value, 1e-9);
    const DecodedDate d = DecodeDateValue(row.value);
    EXPECT_EQ(d.year, row.year);
    EXPECT_EQ(d.month, row.month);
    EXPECT_EQ(d.day, row.day);
    EXPECT_EQ(d.hour, row.hour);
    EXPECT_EQ(d.minute, row.minute);
    EXPECT_EQ(d.second, row.second);
    EXPECT_EQ(d.millisecond, row.millisecond);
  }
}

TEST(DateValues, ToDos) {
  constexpr double kMs = 1 / 86400000.0;
  struct Row {
    const char* name;
    TDateValue value;
    std::uint32_t expected;
  };
  const Row rows[] = {
      {"odd second halves", EncodeDateValue(1980, 1, 1, 0, 0, 59), 0x0021001D},
      {"every field", EncodeDateValue(2024, 7, 15, 13, 45, 30), 0x58EF6DAF},
      {"last representable", EncodeDateValue(2107, 12, 31, 23, 59, 58), 0xFF9FBF7D},
      {"before 1980", EncodeDateValue(1979, 12, 31, 23, 59, 59), 0},
      {"after 2107", EncodeDateValue(2108, 1, 1, 0, 0, 0), 0},
      {"rounds to the nearest millisecond", EncodeDateValue(1980, 1, 1, 0, 0, 1, 999) + 0.6 * kMs,
       0x00210001},
      {"rounding crosses into 1980", EncodeDateValue(1980, 1, 1, 0, 0, 0) - 0.4 * kMs, 0x00210000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DateValueToDos(row.value), row.expected);
  }
}

// Installs a zone for one test and puts the previous one back.
class TimeZoneTest : public testing::Test {
 protected:
  void SetUp() override { saved_ = platform::TimeZone(); }
  void TearDown() override { platform::InstallTimeZone(saved_); }

 private:
  platform::TimeZoneRecord saved_;
};

platform::SystemTime Rule(int month, int weekOfMonth, int hour) {
  platform::SystemTime t;
  t.month = static_cast<std::uint16_t>(month);
  t.day = static_cast<std::uint16_t>(weekOfMonth);
  t.dayOfWeek = 0;  // Sunday
  t.hour = static_cast<std::uint16_t>(hour);
  return t;
}

platform::SystemTime Absolute(int year, int month, int day, int hour) {
  platform::SystemTime t;
  t.year = static_cast<std::uint16_t>(year);
  t.month = static_cast<std::uint16_t>(month);
  t.day = static_cast<std::uint16_t>(day);
  t.hour = static_cast<std::uint16_t>(hour);
  return t;
}

platform::TimeZoneRecord Zone(int bias, platform::SystemTime daylight = {},
                              platform::SystemTime standard = {}, int daylightBias = -60) {
  platform::TimeZoneRecord zone;
  zone.bias = bias;
  zone.daylightBias = daylightBias;
  zone.daylightDate = daylight;
  zone.standardDate = standard;
  return zone;
}

// Second Sunday of March to first Sunday of November, 02:00.
const platform::TimeZoneRecord kAmerican = Zone(300, Rule(3, 2, 2), Rule(11, 1, 2));
// Last Sunday of March to last Sunday of October, 01:00.
const platform::TimeZoneRecord kEuropean = Zone(-60, Rule(3, 5, 1), Rule(10, 5, 1));
// First Sunday of October to first Sunday of April, 02:00 and 03:00.
const platform::TimeZoneRecord kSouthern = Zone(-600, Rule(10, 1, 2), Rule(4, 1, 3));
// A day field outside 1..5 means the first of the month at midnight.
const platform::TimeZoneRecord kMonthly = Zone(0, Rule(4, 0, 7), Rule(9, 0, 7));
// Fixed dates in 2024 only.
const platform::TimeZoneRecord kAbsolute =
    Zone(0, Absolute(2024, 5, 10, 12), Absolute(2024, 8, 20, 6));

TEST_F(TimeZoneTest, IsDaylightSaving) {
  struct Row {
    const char* name;
    const platform::TimeZoneRecord& zone;
    TDateValue utc;
    bool expected;
  };
  const platform::TimeZoneRecord none = Zone(-60);
  const Row rows[] = {
      {"no daylight month", none, EncodeDateValue(2024, 7, 1, 12, 0, 0), false},
      {"second Sunday, just before", kAmerican, EncodeDateValue(2024, 3, 10, 1, 59, 59), false},
      {"second Sunday, at the hour", kAmerican, EncodeDateValue(2024, 3, 10, 2, 0, 0), true},
      {"second Sunday, week before", kAmerican, EncodeDateValue(2024, 3, 3, 12, 0, 0), false},
      {"first Sunday, just before", kAmerican, EncodeDateValue(2024, 11, 3, 1, 59, 59), true},
      {"first Sunday, at the hour", kAmerican, EncodeDateValue(2024, 11, 3, 2, 0, 0), false},
      {"rule follows the year", kAmerican, EncodeDateValue(2023, 3, 12, 2, 0, 0), true},
      {"last Sunday, just before", kEuropean, EncodeDateValue(2024, 3, 31, 0, 59, 59), false},
      {"last Sunday, at the hour", kEuropean, EncodeDateValue(2024, 3, 31, 1, 0, 0), true},
      {"last Sunday of October", kEuropean, EncodeDateValue(2024, 10, 27, 1, 0, 0), false},
      {"week before the last Sunday", kEuropean, EncodeDateValue(2024, 10, 20, 12, 0, 0), true},
      {"southern summer", kSouthern, EncodeDateValue(2024, 1, 15, 12, 0, 0), true},
      {"southern winter", kSouthern, EncodeDateValue(2024, 7, 15, 12, 0, 0), false},
      {"southern end, just before", kSouthern, EncodeDateValue(2024, 4, 7, 2, 59, 59), true},
      {"southern end", kSouthern, EncodeDateValue(2024, 4, 7, 3, 0, 0), false},
      {"southern start", kSouthern, EncodeDateValue(2024, 10, 6, 2, 0, 0), true},
      {"first of month, before", kMonthly, EncodeDateValue(2024, 3, 31, 23, 59, 59), false},
      {"first of month, midnight", kMonthly, EncodeDateValue(2024, 4, 1, 0, 0, 0), true},
      {"first of month, end", kMonthly, EncodeDateValue(2024, 9, 1, 0, 0, 0), false},
      {"absolute, before the start", kAbsolute, EncodeDateValue(2024, 5, 10, 11, 59, 59), false},
      {"absolute, inside", kAbsolute, EncodeDateValue(2024, 5, 10, 12, 0, 0), true},
      {"absolute, at the end", kAbsolute, EncodeDateValue(2024, 8, 20, 6, 0, 0), false},
      {"absolute, other year", kAbsolute, EncodeDateValue(2025, 7, 1, 0, 0, 0), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    platform::InstallTimeZone(row.zone);
    EXPECT_EQ(IsDaylightSaving(row.utc), row.expected);
  }
}

TEST_F(TimeZoneTest, UtcToLocalTime) {
  struct Row {
    const char* name;
    platform::TimeZoneRecord zone;
    TDateValue utc;
    const char* local;
  };
  platform::TimeZoneRecord withStandardBias = Zone(60);
  withStandardBias.standardBias = 30;
  const Row rows[] = {
      {"zero bias", Zone(0), EncodeDateValue(2024, 1, 15, 12, 0, 0), "2024-01-15 12:00:00.000"},
      {"east of UTC", Zone(-330), EncodeDateValue(2024, 1, 15, 12, 0, 0),
       "2024-01-15 17:30:00.000"},
      {"west of UTC, minutes", Zone(210), EncodeDateValue(2024, 1, 15, 12, 0, 0),
       "2024-01-15 08:30:00.000"},
      {"across midnight", Zone(-120), EncodeDateValue(2024, 12, 31, 23, 0, 0),
       "2025-01-01 01:00:00.000"},
      {"standard bias added", withStandardBias, EncodeDateValue(2024, 1, 15, 12, 0, 0),
       "2024-01-15 10:30:00.000"},
      {"standard time", kAmerican, EncodeDateValue(2024, 1, 15, 12, 0, 0),
       "2024-01-15 07:00:00.000"},
      {"daylight time", kAmerican, EncodeDateValue(2024, 7, 15, 12, 0, 0),
       "2024-07-15 08:00:00.000"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    platform::InstallTimeZone(row.zone);
    EXPECT_EQ(Show(UtcToLocalTime(row.utc)), row.local);
  }
}

TEST_F(TimeZoneTest, UnixTimeToLocalInUtc) {
  struct Row {
    const char* name;
    std::int32_t stamp;
    const char* expected;
  };
  const Row rows[] = {
      {"no stamp", 0, "1980-01-01 00:01:00.000"},
      {"first second", 1, "1970-01-01 00:00:01.000"},
      {"one hour", 3600, "1970-01-01 01:00:00.000"},
      {"whole day lands on the next day's first second", 86400, "1970-01-02 00:00:01.000"},
      {"one second later is the same", 86401, "1970-01-02 00:00:01.000"},
      {"whole day at the end of a month", 2678400, "1970-02-01 00:00:01.000"},
      {"whole day at the end of a year", 31536000, "1971-01-01 00:00:01.000"},
      {"leap year reaches 29 February", 68169600, "1972-02-29 00:00:01.000"},
      {"common year skips it", 99792000, "1973-03-01 00:00:01.000"},
      {"2000 is a leap year", 951825600, "2000-02-29 12:00:00.000"},
      {"recent", 1700000000, "2023-11-14 22:13:20.000"},
      {"largest", std::numeric_limits<std::int32_t>::max(), "2038-01-19 03:14:07.000"},
      {"negative counts as its magnitude", -3600, "1970-01-01 01:00:00.000"},
      {"smallest", std::numeric_limits<std::int32_t>::min(), "2038-01-19 03:14:08.000"},
  };
  platform::InstallTimeZone(platform::TimeZoneRecord{});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Show(UnixTimeToLocal(row.stamp)), row.expected);
  }
}

TEST_F(TimeZoneTest, UnixTimeToLocalShiftsAllButTheMissingStamp) {
  platform::InstallTimeZone(Zone(-120));
  EXPECT_EQ(Show(UnixTimeToLocal(3600)), "1970-01-01 03:00:00.000");
  EXPECT_EQ(Show(UnixTimeToLocal(0)), "1980-01-01 00:01:00.000");
}

}  // namespace
}  // namespace quern
