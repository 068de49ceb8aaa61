// LocalTime: a calendar date and wall-clock time in the user's time zone, as the log and the
// archive name their files. A plain value; the Clock port supplies it.
#pragma once

namespace quillon {

struct LocalTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

}  // namespace quillon
