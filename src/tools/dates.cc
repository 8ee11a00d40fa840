#include "tools/dates.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace cubesec {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// 0 = Sunday; 1970-01-01 was a Thursday.
int WeekdayFromDays(int64_t days) {
  int64_t w = (days + 4) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

}  // namespace

LocalDateTime CivilFromUtc(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t rest = seconds - days * kSecondsPerDay;
  // Civil date from a day count, by eras of 400 years.
  const int64_t z = days + 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2);

  LocalDateTime out;
  out.year = static_cast<int>(y);
  out.month = static_cast<int>(m);
  out.day = static_cast<int>(d);
  out.hour = static_cast<int>(rest / 3600);
  out.minute = static_cast<int>(rest / 60 % 60);
  out.second = static_cast<int>(rest % 60);
  out.weekday = WeekdayFromDays(days);
  return out;
}

LocalDateTime ServerTimeToDate(Platform& platform, int64_t server_seconds) {
  return platform.ToLocal(server_seconds);
}

std::string FormatGeneralDate(const LocalDateTime& when) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", when.year, when.month,
                when.day, when.hour, when.minute, when.second);
  return buffer;
}

std::string FormatLongDate(const LocalDateTime& when) {
  // The weekday follows from the date itself, so a hand-made date cannot name a wrong day.
  int month = when.month >= 1 && when.month <= 12 ? when.month : 1;
  int weekday = WeekdayFromDays(DaysFromCivil(when.year, month, when.day));
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%s, %s %d, %d", kWeekdays[weekday], kMonths[month - 1],
                when.day, when.year);
  return buffer;
}

std::string NowText(Platform& platform) {
  return FormatGeneralDate(platform.ToLocal(platform.NowUtc()));
}

int64_t PinnedOrSystemNow(const std::optional<std::string>& pinned) {
  if (pinned && !pinned->empty()) {
    int64_t seconds = 0;
    const char* begin = pinned->data();
    const char* end = begin + pinned->size();
    auto [ptr, ec] = std::from_chars(begin, end, seconds);
    if (ec == std::errc() && ptr == end) return seconds;
  }
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace cubesec
