// The platform clock and the runtime's time conversion.
#ifndef FWSETUP_PLATFORM_CLOCK_H
#define FWSETUP_PLATFORM_CLOCK_H

#include <cstdint>

namespace platform {

// The runtime's broken-down time (struct tm): raw fields, years since 1900, month from 0.
struct TimeFields {
    int year;    // years since 1900
    int month;   // 0..11
    int day;     // 1..31
    int hour;    // 0..23
    int minute;  // 0..59
    int second;  // 0..60
};

// _time64(NULL): seconds since 1970-01-01 00:00:00 UTC; -1 when the clock cannot be read.
int64_t Time64();
// _gmtime64_s: UTC fields; false when the time cannot be broken down (negative or
// after 3000-12-31 23:59:59).
bool GmTime64(int64_t seconds, TimeFields& fields);

}  // namespace platform

#endif
