// The local calendar time as the framework stamps file names, log lines and seeds with it.
#pragma once

namespace Ombrix {

struct LocalTime {
    int year = 0;    // four digits
    int month = 0;   // 1 to 12
    int day = 0;     // 1 to 31
    int hour = 0;    // 0 to 23
    int minute = 0;  // 0 to 59
    int second = 0;  // 0 to 60
};

// Reads the current local time once, through ACE's clock and calendar conversion.
LocalTime CurrentLocalTime();

}  // namespace Ombrix
