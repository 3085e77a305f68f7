// What depends on the user's locale: the clock, the time zone, local DOS times of files and the
// OEM code page.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/scratch_dir.h"
#include "platform/platform.h"

namespace quern::platform {
namespace {

using test::ScratchDir;

// Sets an environment variable for one scope (unset for nullptr) and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

 private:
  void Set(const char* value) {
    if (value != nullptr)
      setenv(name_, value, 1);
    else
      unsetenv(name_);
    tzset();
  }
  const char* name_;
  std::optional<std::string> old_;
};

std::string Show(const SystemTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u (%u) %02u:%02u:%02u.%03u", t.year, t.month,
                t.day, t.dayOfWeek, t.hour, t.minute, t.second, t.milliseconds);
  return text;
}

TEST(Clock, TickCountStartsAtOneAndAdvances) {
  const std::int32_t first = TickCount();
  EXPECT_GT(first, 0);
  usleep(30000);
  const std::int32_t later = TickCount();
  EXPECT_GE(later - first, 30);
  EXPECT_LT(later - first, 10000);
}

TEST(Clock, LocalTimeNowIsInTheLocalZone) {
  ScopedEnv tz("TZ", "<+07>-7");
  const SystemTime now = LocalTimeNow();
  const time_t expected = time(nullptr) + 7 * 3600;
  struct tm fields {};
  fields.tm_year = now.year - 1900;
  fields.tm_mon = now.month - 1;
  fields.tm_mday = now.day;
  fields.tm_hour = now.hour;
  fields.tm_min = now.minute;
  fields.tm_sec = now.second;
  EXPECT_LE(std::abs(timegm(&fields) - expected), 2) << Show(now);
  EXPECT_EQ(now.dayOfWeek, fields.tm_wday);
  EXPECT_LT(now.milliseconds, 1000);
}

TEST(TimeZoneRecord, BuiltFromTheZoneRules) {
  struct Case {
    const char* tz;
    std::int32_t bias, daylightBias;
    const char* daylightDate;  // local standard time when daylight saving starts
    const char* standardDate;  // local daylight time when it ends
  };
  const char* kNone = "0000-00-00 (0) 00:00:00.000";
  const Case cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", -60, -60, "2024-03-31 (0) 02:00:00.000",
       "2024-10-27 (0) 03:00:00.000"},
      {"EST5EDT,M3.2.0,M11.1.0", 300, -60, "2024-03-10 (0) 02:00:00.000",
       "2024-11-03 (0) 02:00:00.000"},
      // Southern hemisphere: daylight saving spans the new year.
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, -60, "2024-10-06 (0) 02:00:00.000",
       "2024-04-07 (0) 03:00:00.000"},
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", -630, -30, "2024-10-06 (0) 02:00:00.000",
       "2024-04-07 (0) 02:00:00.000"},
      // Winter time named as the daylight one: still recorded with summer as daylight.
      {"IST-1GMT0,M10.5.0,M3.5.0/1", 0, -60, "2024-03-31 (0) 01:00:00.000",
       "2024-10-27 (0) 02:00:00.000"},
      {"UTC0", 0, 0, kNone, kNone},
      {"<+07>-7", -420, 0, kNone, kNone},
      {"<-0330>3:30", 210, 0, kNone, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    ScopedEnv tz("TZ", c.tz);
    const TimeZoneRecord record = BuildTimeZoneRecord(2024);
    EXPECT_EQ(record.bias, c.bias);
    EXPECT_EQ(record.standardBias, 0);
    EXPECT_EQ(record.daylightBias, c.daylightBias);
    EXPECT_EQ(Show(record.daylightDate), c.daylightDate);
    EXPECT_EQ(Show(record.standardDate), c.standardDate);
  }
}

TEST(TimeZoneRecord, InstalledRecordIsTheOneInForce) {
  const TimeZoneRecord original = TimeZone();
  TimeZoneRecord installed;
  installed.bias = -345;
  installed.daylightDate.month = 4;
  InstallTimeZone(installed);
  EXPECT_EQ(TimeZone().bias, -345);
  EXPECT_EQ(TimeZone().daylightDate.month, 4);
  InstallTimeZone(original);
}

std::uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<std::uint32_t>(((year - 1980) << 25) | (month << 21) | (day << 16) |
                                    (hour << 11) | (minute << 5) | (second / 2));
}

TEST(DosTime, SetsTheLocalLastWriteTime) {
  struct Case {
    const char* tz;
    int year, month, day, hour, minute, second;
    int utcOffset;  // seconds east of UTC in force on that date
  };
  const Case cases[] = {
      {"UTC0", 2024, 7, 15, 13, 45, 30, 0},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 7, 15, 13, 45, 30, 7200},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 1, 10, 8, 0, 0, 3600},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 2, 29, 23, 59, 58, 3600},
      {"EST5EDT,M3.2.0,M11.1.0", 1980, 1, 1, 0, 0, 0, -5 * 3600},
      {"EST5EDT,M3.2.0,M11.1.0", 2107, 12, 31, 23, 59, 58, -5 * 3600},
  };
  ScratchDir scratch;
  Handle h = CreateFile(scratch.EnginePath("f"));
  ASSERT_NE(h, kInvalidHandle);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.tz << " " << c.year << "-" << c.month << "-" << c.day);
    ScopedEnv tz("TZ", c.tz);
    ASSERT_TRUE(
        SetLastWriteTimeFromDos(h, Dos(c.year, c.month, c.day, c.hour, c.minute, c.second)));
    struct tm fields {};
    fields.tm_year = c.year - 1900;
    fields.tm_mon = c.month - 1;
    fields.tm_mday = c.day;
    fields.tm_hour = c.hour;
    fields.tm_min = c.minute;
    fields.tm_sec = c.second;
    struct stat st {};
    ASSERT_EQ(fstat(h, &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, timegm(&fields) - c.utcOffset);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
  }
  CloseFile(h);
}

TEST(DosTime, InvalidValuesAreRefused) {
  struct Case {
    const char* what;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"month 0", Dos(2024, 0, 1, 0, 0, 0)},
      {"month 13", Dos(2024, 13, 1, 0, 0, 0)},
      {"day 0", Dos(2024, 1, 0, 0, 0, 0)},
      {"30 February", Dos(2024, 2, 30, 0, 0, 0)},
      {"29 February 2023", Dos(2023, 2, 29, 0, 0, 0)},
      {"31 April", Dos(2024, 4, 31, 0, 0, 0)},
      {"hour 24", Dos(2024, 1, 1, 24, 0, 0)},
      {"minute 60", Dos(2024, 1, 1, 0, 60, 0)},
      {"second 60", Dos(2024, 1, 1, 0, 0, 60)},
      {"zero", 0},
  };
  ScratchDir scratch;
  Handle h = CreateFile(scratch.EnginePath("f"));
  ASSERT_NE(h, kInvalidHandle);
  struct stat before {};
  ASSERT_EQ(fstat(h, &before), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(SetLastWriteTimeFromDos(h, c.value));
  }
  struct stat after {};
  ASSERT_EQ(fstat(h, &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  CloseFile(h);
}

TEST(OemToAnsi, ConvertsFromTheChosenCodePage) {
  struct Case {
    const char* codePage;  // QUERN_OEMCP, nullptr for unset
    const char* oem;
    const char* ansi;
  };
  const Case cases[] = {
      {nullptr, "\x81\xE1", "üß"},
      {nullptr, "ABC\x80\x9A.TXT", "ABCÇÜ.TXT"},
      {nullptr, "\xD5", "╒"},
      {"", "\x81", "ü"},
      {"437", "\x81", "ü"},
      {"850", "\xD5", "ı"},
      {"866", "\x80\xE0", "Ар"},
      {"932", "\x82\xA0\xB1", "あｱ"},
      // A lead byte with nothing valid after it stands as "?", and what follows still converts.
      {"932", "A\x82", "A?"},
      {"932",
       "\x82"
       "A",
       "?A"},
      {"no such page", "\x81", "ü"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.codePage ? c.codePage : "unset") << ": " << c.ansi);
    ScopedEnv page("QUERN_OEMCP", c.codePage);
    EXPECT_EQ(OemToAnsi(c.oem), c.ansi);
  }
  EXPECT_EQ(OemToAnsi(std::string(1000, '\x81')).size(), 2000u);
}

}  // namespace
}  // namespace quern::platform
