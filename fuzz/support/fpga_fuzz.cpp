#include "support/fpga_fuzz.h"

#include <cstring>

#include "fpga/fpga_engine.h"
#include "fpga/fpga_format.h"
#include "support/fuzz_device.h"

namespace fuzz {

FuzzFpgaLink::FuzzFpgaLink() : calls_(0), bytes_(0), selectionStarted_(false), command_(-1) {}

bool FuzzFpgaLink::Spend(uint32_t bytes) {
    ++calls_;
    bytes_ = bytes > kByteBudget - bytes_ ? kByteBudget + 1 : bytes_ + bytes;
    return calls_ <= kCallBudget && bytes_ <= kByteBudget;
}

bool FuzzFpgaLink::InitHardware() {
    calls_ = 0;
    bytes_ = 0;
    selectionStarted_ = false;
    command_ = -1;
    return Spend(0);
}

bool FuzzFpgaLink::StartTransaction(uint8_t) {
    selectionStarted_ = true;
    command_ = -1;
    return Spend(0);
}

bool FuzzFpgaLink::EndTransaction() {
    selectionStarted_ = false;
    return Spend(0);
}

bool FuzzFpgaLink::TransmitBits(const uint8_t* data, uint32_t bits) {
    if (selectionStarted_ && command_ < 0 && bits >= 8)
        command_ = data[0];
    return Spend(bits / 8);
}

bool FuzzFpgaLink::ReceiveBits(uint8_t* buffer, uint32_t bits) {
    static const uint8_t kId[] = {0x0F, 0x9A, 0x23, 0x01};
    const uint32_t count = bits / 8;
    for (uint32_t i = 0; i < count; ++i) {
        if (command_ == 0x01)
            buffer[i] = i < sizeof(kId) ? kId[i] : 0xFF;
        else if (command_ == 0x02)
            buffer[i] = 0x06;
        else
            buffer[i] = 0x00;
    }
    return Spend(count);
}

bool FuzzFpgaLink::WaitMilliseconds(uint32_t) {
    return Spend(0);
}

bool FuzzFpgaLink::CloseHardware() {
    return true;
}

void LimitBodyCounts(std::vector<uint8_t>& algorithm) {
    size_t i = 0;
    while (i < algorithm.size() && algorithm[i] != kFpgaStreamStart)
        ++i;
    for (; i < algorithm.size(); ++i) {
        if (algorithm[i] != OP_REPEAT && algorithm[i] != OP_LOOP)
            continue;
        uint32_t value = 0, shift = 0;
        size_t end = i + 1;
        while (end < algorithm.size() && FpgaVarintAdd(algorithm[end], value, shift))
            ++end;
        if (end >= algorithm.size() || value <= kMaxBodyRuns)
            continue;
        // The same number of bytes, holding kMaxBodyRuns.
        algorithm[i + 1] = static_cast<uint8_t>((algorithm[i + 1] & 0x80) | kMaxBodyRuns);
        for (size_t k = i + 2; k <= end; ++k)
            algorithm[k] &= 0x80;
    }
}

int RunFpga(const std::vector<uint8_t>& algorithm, const std::vector<uint8_t>* data) {
    static FuzzFpgaLink link;
    WriteDeviceFile("fs/UpgradeTemp/algo.sea", algorithm.data(), algorithm.size());
    if (data)
        WriteDeviceFile("fs/UpgradeTemp/data.sed", data->data(), data->size());
    SetFpgaLink(&link);
    SetFpgaFiles("\\UpgradeTemp\\algo.sea", data ? "\\UpgradeTemp\\data.sed" : "");
    const int result = RunAlgorithm(kFpgaAnyAlgorithmId);
    SetFpgaLink(0);
    return result;
}

}  // namespace fuzz
