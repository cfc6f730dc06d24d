// Reading the device-call trace DEVICE/hw/trace.jsonl in tests.
#ifndef FWSETUP_TESTS_SUPPORT_DEVICE_TRACE_H
#define FWSETUP_TESTS_SUPPORT_DEVICE_TRACE_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fwtest {

// One traced call; members the line does not hold are empty.
struct TraceCall {
    std::string dev;
    std::string op;
    std::string code;  // ioctl: "0x220c10"
    std::optional<std::vector<uint32_t>> in, out, config;
    std::optional<std::string> data;
    std::optional<int64_t> offset;
    std::optional<uint32_t> method;
    bool ok = false;
    std::string line;  // as written

    // "dev op", with the code for an ioctl ("SPI1: ioctl 0x220814"): a short
    // form for comparing sequences of calls.
    std::string Brief() const;
};

// Starts tracing the calls on device: an empty hw/trace.jsonl.
void StartDeviceTrace(const std::filesystem::path& device);
// Empties the trace again.
void ClearDeviceTrace(const std::filesystem::path& device);

// Every line of the trace. A line that is not one JSON object with the members
// of the trace format (and only those, of their types) fails the test.
std::vector<TraceCall> ReadDeviceTrace(const std::filesystem::path& device);

// The Brief() of every call, in order.
std::vector<std::string> BriefTrace(const std::vector<TraceCall>& calls);

}  // namespace fwtest

#endif
