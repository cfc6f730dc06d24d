// What the two FPGA targets share: a scripted link that keeps every run short,
// and a run of the engine over an algorithm file and a data file.
#ifndef FWSETUP_FUZZ_SUPPORT_FPGA_FUZZ_H
#define FWSETUP_FUZZ_SUPPORT_FPGA_FUZZ_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fpga/fpga_link.h"

namespace fuzz {

// A link with a little of the reference FPGA in it: a receive in a selection
// that began with command 0x01 answers the id 0f 9a 23 01, with command 0x02 the
// status 0x06 (enabled, erased), any other 0x00. Each run (from InitHardware on)
// may make kCallBudget calls and move kByteBudget bytes; past either every call
// fails, which ends the run. Nothing waits.
class FuzzFpgaLink : public FpgaLink {
  public:
    static const uint32_t kCallBudget = 4096;
    static const uint32_t kByteBudget = 256 * 1024;

    FuzzFpgaLink();
    bool InitHardware();
    bool StartTransaction(uint8_t channel);
    bool EndTransaction();
    bool TransmitBits(const uint8_t* data, uint32_t bits);
    bool ReceiveBits(uint8_t* buffer, uint32_t bits);
    bool WaitMilliseconds(uint32_t ms);
    bool CloseHardware();

  private:
    // Counts a call moving bytes; false once the budget is spent.
    bool Spend(uint32_t bytes);

    uint32_t calls_;
    uint32_t bytes_;
    bool selectionStarted_;
    int command_;
};

// Repeat and loop counts are 32-bit, so an algorithm may legitimately ask for
// days of work. Every varint that follows a byte 0x41 (OP_REPEAT) or 0x43
// (OP_LOOP) after the first 0x60 (the stream's start) is limited to
// kMaxBodyRuns, keeping its length, so that nested bodies stay cheap. The
// bytes are rewritten wherever they stand, operands included: the input is
// only a different file then, never a wrong one.
const uint32_t kMaxBodyRuns = 8;
void LimitBodyCounts(std::vector<uint8_t>& algorithm);

// Writes algorithm and data (unless it is null: no data file named) to the
// device and runs the engine over them with a FuzzFpgaLink, any algorithm id.
int RunFpga(const std::vector<uint8_t>& algorithm, const std::vector<uint8_t>* data);

}  // namespace fuzz

#endif
