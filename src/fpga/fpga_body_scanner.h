// Finds where a repeat or loop body ends, as the engine does before it runs it.
//
// The scan is bytewise: after the opening opcode's count, every byte with the
// value of OP_REPEAT, OP_LOOP, OP_END_REPEAT or OP_END_LOOP counts as a marker
// and every 0xA0 starts a comment block, wherever it stands (inside an operand
// too). Markers nest; the body ends at the end marker of its own kind met
// outside every nested one. Comment blocks are dropped from the body.
#ifndef FWSETUP_FPGA_FPGA_BODY_SCANNER_H
#define FWSETUP_FPGA_FPGA_BODY_SCANNER_H

#include <cstdint>

class FpgaBodyScanner {
  public:
    enum Verdict {
        kKeep,       // the byte belongs to the body
        kDrop,       // the byte is part of a comment block
        kEnd,        // the byte is the body's end marker (not part of the body)
        kUnmatched,  // an end marker that closes nothing open, or the wrong kind
        kTooDeep,    // one more nested body than maxNested
    };

    // opener is OP_REPEAT or OP_LOOP; at most maxNested bodies may be open
    // inside this one at a time.
    FpgaBodyScanner(uint8_t opener, uint32_t maxNested);

    // The verdict on the next byte; after kEnd, kUnmatched or kTooDeep the scan is over.
    Verdict Next(uint8_t byte);
    // True while a comment block is open (the body cannot end there).
    bool InComment() const { return inComment_; }

  private:
    static const uint32_t kMaxStack = 8;
    uint8_t opener_;
    uint32_t maxNested_;
    uint8_t stack_[kMaxStack];
    uint32_t depth_;
    bool inComment_;
};

#endif
