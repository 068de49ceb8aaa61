// Calendar arithmetic and the time texts of stored records: "2026-12-07T18:46:04.123+01:00",
// local wall-clock time with its offset from UTC, so that a person reads the time they lived
// and a program still finds the exact instant. Pure functions; no time zone database is
// needed because every text carries its own offset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/local_time.h"

namespace quillon {

inline constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int year, int month, int day);
struct CivilDate {
    int year = 1970, month = 1, day = 1;
};
CivilDate CivilFromDays(int64_t days);
// False for a day that does not exist (2026-02-30).
bool IsValidDate(int year, int month, int day);

// The local time zone's offset from UTC in minutes, from a local reading and the UTC seconds
// read at the same moment (rounded to a quarter hour, which every zone in use is a multiple of).
int OffsetMinutes(const LocalTime& local, int64_t unixSeconds);

// "YYYY-MM-DDTHH:MM:SS.mmm+HH:MM" of a local time and its offset.
std::string IsoTimeText(const LocalTime& local, int offsetMinutes);
// The instant such a text names, in milliseconds since 1970 UTC; nothing when it is not one.
std::optional<int64_t> ParseIsoTime(std::string_view text);

// "YYYY-MM-DD" into days since 1970; nothing when it is not a real date.
std::optional<int64_t> ParseDateText(std::string_view text);
// "YYYYMMDD" of days since 1970, as dated file names carry it.
std::string CompactDateText(int64_t days);

}  // namespace quillon
