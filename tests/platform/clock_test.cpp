// The platform clock: the simulated clock file, the host's time, and the UTC breakdown.
#include "platform/clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <fstream>
#include <string>

#include "support/temp_device.h"

using fwtest::TempDevice;

namespace {

void WriteClock(const TempDevice& device, const std::string& text) {
    std::ofstream out(device.Hw() / "clock", std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good());
}

TEST(PlatformClock, ClockFileIsTheTime) {
    TempDevice device;
    struct Case {
        const char* text;
        int64_t seconds;
    };
    const Case cases[] = {
        {"2024-03-05T07:08:09Z", 1709622489},
        {"  2024-03-05T07:08:09Z\r\n", 1709622489},
        {"1970-01-01T00:00:00Z", 0},
        {"2024-02-29T23:59:59Z", 1709251199},
        {"3000-12-31T23:59:59Z", 32535215999LL},
        // Malformed or out of range: the clock reports no time.
        {"", -1},
        {"garbage", -1},
        {"2024-03-05 07:08:09Z", -1},
        {"2024-03-05T07:08:09", -1},
        {"2024-03-05T07:08:09+01:00", -1},
        {"2024-3-05T07:08:09Z", -1},
        {"2023-02-29T00:00:00Z", -1},
        {"2024-13-01T00:00:00Z", -1},
        {"2024-00-01T00:00:00Z", -1},
        {"2024-04-31T00:00:00Z", -1},
        {"2024-03-05T24:00:00Z", -1},
        {"2024-03-05T07:60:00Z", -1},
        {"2024-03-05T07:08:60Z", -1},
        {"1969-12-31T23:59:59Z", -1},
        {"3001-01-01T00:00:00Z", -1},
        {"2024-03-05T07:08:09Z 2024-03-05T07:08:09Z", -1},
    };
    for (const Case& c : cases) {
        WriteClock(device, c.text);
        EXPECT_EQ(platform::Time64(), c.seconds) << '"' << c.text << '"';
    }
}

TEST(PlatformClock, WithoutClockFileTheHostTimeAnswers) {
    TempDevice device;
    const int64_t before = static_cast<int64_t>(time(nullptr));
    const int64_t now = platform::Time64();
    const int64_t after = static_cast<int64_t>(time(nullptr));
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST(PlatformClock, BreaksTimesDownInUtc) {
    struct Case {
        int64_t seconds;
        platform::TimeFields fields;
    };
    const Case cases[] = {
        {0, {70, 0, 1, 0, 0, 0}},
        {1709622489, {124, 2, 5, 7, 8, 9}},
        {1733011198, {124, 10, 30, 23, 59, 58}},
        {1709251199, {124, 1, 29, 23, 59, 59}},
        {32535215999LL, {1100, 11, 31, 23, 59, 59}},
    };
    // Local time must not leak into the breakdown.
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    for (const Case& c : cases) {
        platform::TimeFields f = {-7, -7, -7, -7, -7, -7};
        ASSERT_TRUE(platform::GmTime64(c.seconds, f)) << c.seconds;
        EXPECT_EQ(f.year, c.fields.year) << c.seconds;
        EXPECT_EQ(f.month, c.fields.month) << c.seconds;
        EXPECT_EQ(f.day, c.fields.day) << c.seconds;
        EXPECT_EQ(f.hour, c.fields.hour) << c.seconds;
        EXPECT_EQ(f.minute, c.fields.minute) << c.seconds;
        EXPECT_EQ(f.second, c.fields.second) << c.seconds;
    }
    platform::TimeFields f;
    EXPECT_FALSE(platform::GmTime64(-1, f));
    EXPECT_FALSE(platform::GmTime64(32535216000LL, f));
    EXPECT_FALSE(platform::GmTime64(INT64_MAX, f));
}

}  // namespace
