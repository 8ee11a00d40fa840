#include "tools/dates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "tools/fake_platform.h"

namespace cubesec {
namespace {

std::string Civil(int64_t seconds) {
  LocalDateTime t = CivilFromUtc(seconds);
  return FormatGeneralDate(t) + " w" + std::to_string(t.weekday);
}

TEST(CivilFromUtc, KnownInstants) {
  EXPECT_EQ(Civil(0), "1970-01-01 00:00:00 w4");
  EXPECT_EQ(Civil(-1), "1969-12-31 23:59:59 w3");
  EXPECT_EQ(Civil(951782400), "2000-02-29 00:00:00 w2");   // a leap day of a 400-year
  EXPECT_EQ(Civil(1709164800), "2024-02-29 00:00:00 w4");  // an ordinary leap day
  EXPECT_EQ(Civil(1709251199), "2024-02-29 23:59:59 w4");
  EXPECT_EQ(Civil(4107542400), "2100-03-01 00:00:00 w1");  // 2100 has no 29 February
  EXPECT_EQ(Civil(-2208988800), "1900-01-01 00:00:00 w1");
}

// The standard library's calendar is the reference: unlike gmtime, it covers the years
// before 1970 on every C library, Windows' included.
TEST(CivilFromUtc, AgreesWithTheStandardCalendarAcrossCenturies) {
  using namespace std::chrono;
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int64_t> seconds(-5000000000LL, 8000000000LL);
  for (int i = 0; i < 20000; ++i) {
    int64_t s = seconds(random);
    const sys_seconds instant{std::chrono::seconds(s)};
    const sys_days day = floor<days>(instant);
    const year_month_day expected{day};
    LocalDateTime got = CivilFromUtc(s);
    ASSERT_EQ(got.year, static_cast<int>(expected.year())) << s;
    ASSERT_EQ(got.month, static_cast<int>(static_cast<unsigned>(expected.month()))) << s;
    ASSERT_EQ(got.day, static_cast<int>(static_cast<unsigned>(expected.day()))) << s;
    ASSERT_EQ(got.hour * 3600 + got.minute * 60 + got.second, (instant - day).count()) << s;
    ASSERT_EQ(got.weekday, static_cast<int>(weekday{day}.c_encoding())) << s;
  }
}

TEST(DateFormats, GeneralAndLongForms) {
  LocalDateTime t = CivilFromUtc(1796741702);
  EXPECT_EQ(FormatGeneralDate(t), "2026-12-08 14:55:02");
  EXPECT_EQ(FormatLongDate(t), "Tuesday, December 8, 2026");
  t.weekday = 0;  // the weekday is taken from the date, never from a stale field
  EXPECT_EQ(FormatLongDate(t), "Tuesday, December 8, 2026");
  EXPECT_EQ(FormatLongDate(CivilFromUtc(951782400)), "Tuesday, February 29, 2000");
  EXPECT_EQ(FormatLongDate(CivilFromUtc(0)), "Thursday, January 1, 1970");
}

TEST(DateFormats, ServerTimesAndNowFollowThePlatformsTimeZone) {
  FakePlatform platform;
  platform.utc_offset_minutes = -300;
  EXPECT_EQ(FormatGeneralDate(ServerTimeToDate(platform, 1709164800)), "2024-02-28 19:00:00");
  platform.now = 1796741702;
  platform.utc_offset_minutes = 60;
  EXPECT_EQ(NowText(platform), "2026-12-08 15:55:02");
}

}  // namespace
}  // namespace cubesec
