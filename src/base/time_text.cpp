#include "base/time_text.h"

#include <cmath>
#include <cstdio>

namespace quillon {

namespace {

// Reads exactly `n` decimal digits at `at`; -1 when they are not all digits.
int Digits(std::string_view text, size_t at, size_t n) {
    if (at + n > text.size()) return -1;
    int value = 0;
    for (size_t i = at; i < at + n; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

// Howard Hinnant's algorithms for the proleptic Gregorian calendar.
int64_t DaysFromCivil(int year, int month, int day) {
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate CivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    CivilDate date;
    date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2 ? 1 : 0));
    return date;
}

bool IsValidDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    return day <= kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
}

int OffsetMinutes(const LocalTime& local, int64_t unixSeconds) {
    const int64_t localSeconds = DaysFromCivil(local.year, local.month, local.day) * 86400 +
                                 local.hour * 3600 + local.minute * 60 + local.second;
    const double quarters = static_cast<double>(localSeconds - unixSeconds) / 900.0;
    return static_cast<int>(std::lround(quarters)) * 15;
}

std::string IsoTimeText(const LocalTime& local, int offsetMinutes) {
    const int magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.year,
                  local.month, local.day, local.hour, local.minute, local.second, local.millisecond,
                  offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

std::optional<int64_t> ParseIsoTime(std::string_view t) {
    // 0123456789012345678901234567
    // 2026-12-07T18:46:04.123+01:00
    if (t.size() != 29 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':' || t[19] != '.' || (t[23] != '+' && t[23] != '-') || t[26] != ':') {
        return std::nullopt;
    }
    const int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
    const int hour = Digits(t, 11, 2), minute = Digits(t, 14, 2), second = Digits(t, 17, 2);
    const int ms = Digits(t, 20, 3), offH = Digits(t, 24, 2), offM = Digits(t, 27, 2);
    if (year < 0 || !IsValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60 || ms < 0 || offH < 0 || offH > 23 || offM < 0 ||
        offM > 59) {
        return std::nullopt;
    }
    const int64_t offset = (t[23] == '-' ? -1 : 1) * (offH * 60 + offM);
    const int64_t localSeconds =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return (localSeconds - offset * 60) * 1000 + ms;
}

std::optional<int64_t> ParseDateText(std::string_view t) {
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return std::nullopt;
    const int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
    if (year < 0 || !IsValidDate(year, month, day)) return std::nullopt;
    return DaysFromCivil(year, month, day);
}

std::string CompactDateText(int64_t days) {
    const CivilDate date = CivilFromDays(days);
    char text[24];
    std::snprintf(text, sizeof text, "%04d%02d%02d", date.year, date.month, date.day);
    return text;
}

}  // namespace quillon
