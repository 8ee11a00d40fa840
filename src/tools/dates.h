#pragma once
// Dates as the dump file and the run log write them.

#include <cstdint>
#include <optional>
#include <string>

#include "tools/platform.h"

namespace cubesec {

/// The calendar date and time of `seconds` since 1970-01-01 00:00, without any time zone.
LocalDateTime CivilFromUtc(int64_t seconds);

/// The local date and time of a server time (seconds since 1970-01-01 00:00 UTC).
LocalDateTime ServerTimeToDate(Platform& platform, int64_t server_seconds);

/// The general date format of log lines and "Date Made": "2026-12-08 14:41:42".
std::string FormatGeneralDate(const LocalDateTime& when);

/// The long date format of "Last Login": "Tuesday, December 8, 2026".
std::string FormatLongDate(const LocalDateTime& when);

/// Seconds since 1970 UTC: `pinned` when it is a whole number (a clock pinned for tests and
/// demonstrations), else the system clock's.
int64_t PinnedOrSystemNow(const std::optional<std::string>& pinned);

/// The current local date and time in the general format.
std::string NowText(Platform& platform);

}  // namespace cubesec
