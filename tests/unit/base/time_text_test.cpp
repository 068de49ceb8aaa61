#include "base/time_text.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(TimeText, CalendarDaysRoundTripAndRefuseDaysThatDoNotExist) {
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1) - DaysFromCivil(2000, 2, 28), 2);  // 2000 is a leap year
    EXPECT_EQ(DaysFromCivil(2100, 3, 1) - DaysFromCivil(2100, 2, 28), 1);  // 2100 is not
    for (int64_t days = -800; days < 120000; days += 37) {
        const CivilDate d = CivilFromDays(days);
        ASSERT_TRUE(IsValidDate(d.year, d.month, d.day)) << days;
        ASSERT_EQ(DaysFromCivil(d.year, d.month, d.day), days);
    }
    EXPECT_FALSE(IsValidDate(2026, 2, 29));
    EXPECT_TRUE(IsValidDate(2028, 2, 29));
    EXPECT_FALSE(IsValidDate(2026, 4, 31));
    EXPECT_FALSE(IsValidDate(2026, 13, 1));
    EXPECT_EQ(ParseDateText("2026-12-07"), DaysFromCivil(2026, 12, 7));
    EXPECT_EQ(CompactDateText(DaysFromCivil(2026, 1, 9)), "20260109");
    for (const char* bad : {"2026-02-30", "2026-1-07", "2026/12/07", "20261207", ""}) {
        EXPECT_FALSE(ParseDateText(bad)) << bad;
    }
}

TEST(TimeText, TimesCarryTheirOffsetAndNameTheSameInstant) {
    const int64_t instant = (DaysFromCivil(2026, 12, 7) * 86400 + 18 * 3600) * 1000 + 123;
    // 18:00 UTC as a clock in Kolkata, Los Angeles and Chatham shows it.
    struct Zone {
        LocalTime local;
        int offset;
        const char* text;
    } zones[] = {
        {{2026, 12, 7, 23, 30, 0, 123}, 330, "2026-12-07T23:30:00.123+05:30"},
        {{2026, 12, 7, 10, 0, 0, 123}, -480, "2026-12-07T10:00:00.123-08:00"},
        {{2026, 12, 8, 7, 45, 0, 123}, 825, "2026-12-08T07:45:00.123+13:45"},
    };
    for (const Zone& zone : zones) {
        EXPECT_EQ(OffsetMinutes(zone.local, instant / 1000), zone.offset);
        // A second read between the two readings still rounds to the zone.
        EXPECT_EQ(OffsetMinutes(zone.local, instant / 1000 - 1), zone.offset);
        EXPECT_EQ(IsoTimeText(zone.local, zone.offset), zone.text);
        EXPECT_EQ(ParseIsoTime(zone.text), instant);
    }
    for (const char* bad : {"2026-12-07T18:00:00.123", "2026-12-07T24:00:00.000+00:00",
                            "2026-02-30T10:00:00.000+00:00", "2026-12-07 18:00:00.123+00:00",
                            "2026-12-07T18:00:00.12x+00:00", "2026-12-07T18:00:00.123+0000"}) {
        EXPECT_FALSE(ParseIsoTime(bad)) << bad;
    }
}

}  // namespace
}  // namespace quillon
