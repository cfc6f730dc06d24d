// The CAB loader stand-in's cabinet reading: the input is the cabinet, read
// and checked whole in memory as the loader does before it installs anything.
#include <string>
#include <vector>

#include "sim/cabinet.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    std::vector<sim::CabinetEntry> entries;
    std::string error;
    sim::ReadCabinet(bytes, entries, error);
    return 0;
}
