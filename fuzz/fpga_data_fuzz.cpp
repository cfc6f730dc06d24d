// The FPGA data file: the input is the data file, read by the engine for three
// fixed algorithms: whole and partial transfers from dataset 0x27 with a
// comparison, byte-wide transfers and comparisons from dataset 4, and both
// interleaved around a rewind, so that datasets are resumed and restarted.
#include <vector>

#include "fpga/fpga_format.h"
#include "support/fpga_fuzz.h"
#include "support/fuzz_device.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Any id, version 4.0.0, depth 3, a checksum that matches anything, then stream.
// clang-format off
Bytes Algorithm(const Bytes& stream) {
    static const uint8_t kHeader[] = {
        kFpgaTagAlgorithmId, 0, 0, 0, 0,
        kFpgaTagVersion, 4, 0, 0,
        kFpgaTagBufferSize, 16,
        kFpgaTagNestingDepth, 3,
        kFpgaTagMaskBufferSize, 16,
        kFpgaTagChannel, 0,
        kFpgaTagCompression, 0,
        kFpgaTagChecksum, 0xFF, 0xFF,
        kFpgaStreamStart};
    Bytes file(kHeader, kHeader + sizeof(kHeader));
    for (uint8_t byte : stream)
        file.push_back(byte);
    file.push_back(OP_END_OF_ALGORITHM);
    return file;
}

const uint8_t kStart = OP_START_TRANSACTION, kEnd = OP_END_TRANSACTION, kTx = OP_TRANSMIT,
              kRx = OP_RECEIVE, kSet = kFpgaSourceDataset, kInline = kFpgaSourceInline,
              kRepeat = OP_REPEAT, kEndRepeat = OP_END_REPEAT;

// 16 bytes, 12 bits and 16 bytes again, twice over, then 16 bytes compared.
const Bytes kImage = {
    kStart,
    kRepeat, 2,
        kTx, 128, 1, kSet,
        kTx, 12, kSet,
        kTx, 128, 1, kSet,
    kEndRepeat,
    kEnd,
    kStart, kRx, 128, 1, OP_CHECKED_DATASET_DATA, kEnd};
// Bytes of dataset 4 sent and compared, then 4 bits and 3 bytes of it compared.
const Bytes kCode = {
    kStart, kTx, 8, kInline, 0x32, OP_DATASET_DATA, OP_DATASET_DATA, kEnd,
    kStart, kRx, 8, OP_DATASET_DATA, kRx, 4, OP_DATASET_DATA, kRx, 24, OP_DATASET_DATA, kEnd};
// Switches between both datasets, rewinds, and goes on from their starts.
const Bytes kInterleaved = {
    kStart,
    kRepeat, 3,
        kTx, 64, kSet,
        kTx, 8, kInline, 0x00, OP_DATASET_DATA,
    kEndRepeat,
    kEnd,
    OP_RESET_DATA,
    kStart, kTx, 128, 1, kSet, kTx, 16, kInline, 0, 0, OP_DATASET_DATA, kEnd};
// clang-format on

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Bytes algorithms[] = {Algorithm(kImage), Algorithm(kCode),
                                       Algorithm(kInterleaved)};
    const Bytes file(data, data + size);
    for (const Bytes& algorithm : algorithms)
        fuzz::RunFpga(algorithm, &file);
    return 0;
}
