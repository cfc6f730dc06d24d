// Host side of the platform clock.
//
// The simulation may fix the time: DEVICE/hw/clock holds one UTC time
// "YYYY-MM-DDTHH:MM:SSZ" (white space around it is allowed). While that file
// exists it is the clock; when it cannot be read (also when it is not a regular
// file), is malformed or names a time
// outside 1970-01-01T00:00:00Z .. 3000-12-31T23:59:59Z, Time64 reports -1, as
// the runtime does when it has no time, and GmTime64 refuses -1. Without the
// file the host's clock answers.
#include "platform/clock.h"

#include <time.h>

#include <cerrno>
#include <string>

#include "platform/host/device_root.h"
#include "platform/host/host_text.h"
#include "platform/host/safe_files.h"

namespace platform {
namespace {

// The latest time the runtime's 64-bit conversion accepts: 3000-12-31T23:59:59Z.
const int64_t kLatestTime = 32535215999LL;

// Reads count decimal digits at text[pos].
bool Digits(const std::string& text, size_t pos, size_t count, int& value) {
    if (pos + count > text.size())
        return false;
    value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<int64_t>(era) * 146097 + dayOfEra - 719468;
}

// "YYYY-MM-DDTHH:MM:SSZ" to seconds since 1970; false when malformed or out of range.
bool ParseClock(const std::string& raw, int64_t& seconds) {
    const std::string text = host::TrimAsciiSpace(raw);
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return false;
    }
    int year, month, day, hour, minute, second;
    if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
        !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) ||
        !Digits(text, 17, 2, second)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return false;
    }
    const int64_t value =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    if (value < 0 || value > kLatestTime)
        return false;
    seconds = value;
    return true;
}

}  // namespace

int64_t Time64() {
    std::string text;
    const host::FileReadResult read =
        host::ReadFileBelow(host::DeviceRoot(), "hw/clock", 1024, text);
    if (read != host::kFileMissing) {
        int64_t seconds = 0;
        if (read != host::kFileRead || !ParseClock(text, seconds))
            return -1;
        return seconds;
    }
    const time_t now = time(NULL);
    return now == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(now);
}

bool GmTime64(int64_t seconds, TimeFields& fields) {
    if (seconds < 0 || seconds > kLatestTime)
        return false;
    if (static_cast<int64_t>(static_cast<time_t>(seconds)) != seconds)
        return false;
    const time_t value = static_cast<time_t>(seconds);
    struct tm broken;
    if (gmtime_r(&value, &broken) == NULL)
        return false;
    fields.year = broken.tm_year;
    fields.month = broken.tm_mon;
    fields.day = broken.tm_mday;
    fields.hour = broken.tm_hour;
    fields.minute = broken.tm_min;
    fields.second = broken.tm_sec;
    return true;
}

}  // namespace platform
