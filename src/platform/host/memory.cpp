// Host side of the memory status.
//
// A test may fix the figure: DEVICE/hw/avail-phys holds a decimal number of
// bytes (white space around it allowed). While that file exists it is the
// answer; a file that is malformed or out of range, or anything there that is
// not a regular file, answers 0, as if nothing were available. Without the file the host's
// available memory answers (MemAvailable of /proc/meminfo, else sysinfo's free RAM).
#include "platform/memory.h"

#include <sys/sysinfo.h>

#include <cstdint>
#include <string>

#include "platform/host/device_root.h"
#include "platform/host/host_text.h"
#include "platform/host/safe_files.h"

namespace platform {
namespace {

// Reads a decimal number that fits 64 bits; false for anything else.
bool ParseDecimal(const std::string& text, uint64_t& value) {
    if (text.empty())
        return false;
    value = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

// MemAvailable of /proc/meminfo in bytes; false when the line is not there.
bool MemAvailableFromProc(uint64_t& bytes) {
    std::string text;
    if (!host::ReadSmallFile("/proc/meminfo", 1 << 16, text))
        return false;
    const std::string key = "MemAvailable:";
    const size_t at = text.find(key);
    if (at == std::string::npos)
        return false;
    const size_t end = text.find('\n', at);
    std::string field = text.substr(
        at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
    field = host::TrimAsciiSpace(field);
    const size_t unit = field.find(" kB");
    if (unit == std::string::npos)
        return false;
    uint64_t kib = 0;
    if (!ParseDecimal(field.substr(0, unit), kib) || kib > UINT64_MAX / 1024)
        return false;
    bytes = kib * 1024;
    return true;
}

}  // namespace

uint64_t AvailablePhysicalMemory() {
    std::string text;
    switch (host::ReadFileBelow(host::DeviceRoot(), "hw/avail-phys", 64, text)) {
        case host::kFileRead: {
            uint64_t value = 0;
            return ParseDecimal(host::TrimAsciiSpace(text), value) ? value : 0;
        }
        case host::kFileBroken:
            return 0;
        case host::kFileMissing:
            break;
    }
    uint64_t bytes = 0;
    if (MemAvailableFromProc(bytes))
        return bytes;
    struct sysinfo info;
    if (sysinfo(&info) != 0)
        return 0;
    return static_cast<uint64_t>(info.freeram) * info.mem_unit;
}

}  // namespace platform
