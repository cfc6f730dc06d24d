#include "fpga/fpga_body_scanner.h"

#include "fpga/fpga_format.h"

FpgaBodyScanner::FpgaBodyScanner(uint8_t opener, uint32_t maxNested)
    : opener_(opener),
      maxNested_(maxNested < kMaxStack ? maxNested : kMaxStack),
      depth_(0),
      inComment_(false) {}

FpgaBodyScanner::Verdict FpgaBodyScanner::Next(uint8_t byte) {
    if (inComment_) {
        if (byte == kFpgaTagCommentEnd)
            inComment_ = false;
        return kDrop;
    }
    switch (byte) {
        case OP_COMMENT:
            inComment_ = true;
            return kDrop;
        case OP_REPEAT:
        case OP_LOOP:
            if (depth_ >= maxNested_)
                return kTooDeep;
            stack_[depth_++] = byte;
            return kKeep;
        case OP_END_REPEAT:
        case OP_END_LOOP: {
            const uint8_t opens = byte == OP_END_REPEAT ? OP_REPEAT : OP_LOOP;
            if (depth_ == 0)
                return opens == opener_ ? kEnd : kUnmatched;
            if (stack_[depth_ - 1] != opens)
                return kUnmatched;
            --depth_;
            return kKeep;
        }
        default:
            return kKeep;
    }
}
