// The platform's memory status: the simulated figure and the host's own.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/temp_device.h"

using fwtest::TempDevice;

namespace {

TEST(PlatformMemory, AvailPhysFileIsTheFigure) {
    TempDevice device;
    struct Case {
        const char* text;
        uint64_t bytes;
    };
    const Case cases[] = {
        {"1048576", 1048576},
        {" 4096\n", 4096},
        {"0", 0},
        {"18446744073709551615", UINT64_MAX},
        // Malformed or out of range: nothing is available.
        {"", 0},
        {"12 MiB", 0},
        {"-5", 0},
        {"18446744073709551616", 0},
    };
    for (const Case& c : cases) {
        {
            std::ofstream out(device.Hw() / "avail-phys", std::ios::binary | std::ios::trunc);
            out << c.text;
        }
        EXPECT_EQ(platform::AvailablePhysicalMemory(), c.bytes) << '"' << c.text << '"';
    }
}

TEST(PlatformMemory, WithoutTheFileTheHostAnswers) {
    TempDevice device;
    EXPECT_GT(platform::AvailablePhysicalMemory(), 0u);
}

}  // namespace
