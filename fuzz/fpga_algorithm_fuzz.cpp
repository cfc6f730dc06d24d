// The FPGA algorithm file: the input is the algorithm (header and stream), run
// by the engine with a data file of two plain datasets (0x27 and 0x04) over a
// scripted link.
#include <vector>

#include "fpga/fpga_format.h"
#include "support/fpga_fuzz.h"
#include "support/fuzz_device.h"

namespace {

// A table of two datasets, each with its 2 leading and 4 trailing bytes.
std::vector<uint8_t> TwoDatasets() {
    const uint8_t codeSize = 16;
    const uint32_t imageSize = 4096;
    const uint32_t codeAddress = 2 + imageSize + 4;
    // clang-format off
    std::vector<uint8_t> file = {
        kFpgaDataModeMultiple, 2,
        // id 0x27, 4096 bytes (varint 80 20), plain, at address 0
        kFpgaDatasetEntryTag, 0x27, 0, 0x80, 0x20, kFpgaDatasetPlain, 0, 0, 0, 0,
        // id 4, 16 bytes, plain, behind the first
        kFpgaDatasetEntryTag, 0x04, 0, codeSize, kFpgaDatasetPlain, 0, 0,
        static_cast<uint8_t>(codeAddress >> 8), static_cast<uint8_t>(codeAddress & 0xFF)};
    // clang-format on
    const size_t start = file.size();
    file.resize(start + 2 + imageSize + 4 + 2 + codeSize + 4, 0xEE);
    for (uint32_t i = 0; i < imageSize; ++i)
        file[start + 2 + i] = static_cast<uint8_t>(i * 7);
    for (uint32_t i = 0; i < codeSize; ++i)
        file[start + codeAddress + 2 + i] = static_cast<uint8_t>(0xC0 + i);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> datasets = TwoDatasets();
    std::vector<uint8_t> algorithm(data, data + size);
    fuzz::LimitBodyCounts(algorithm);
    fuzz::RunFpga(algorithm, &datasets);
    return 0;
}
