// The module's link to the FPGA.
//
// The SPI/GPIO transport is not part of this module yet. Until it is, the
// default link cannot open any hardware: InitHardware fails, so every run ends
// with kFpgaHardwareUnavailable and no FPGA is ever reported as programmed.
// The transport replaces this file: DefaultFpgaLink() then returns it.
#include "fpga/fpga_link.h"

namespace {

class NoFpgaLink : public FpgaLink {
  public:
    bool InitHardware() { return false; }
    bool StartTransaction(uint8_t) { return false; }
    bool EndTransaction() { return false; }
    bool TransmitBits(const uint8_t*, uint32_t) { return false; }
    bool ReceiveBits(uint8_t*, uint32_t) { return false; }
    bool WaitMilliseconds(uint32_t) { return false; }
    bool CloseHardware() { return false; }
};

}  // namespace

FpgaLink& DefaultFpgaLink() {
    static NoFpgaLink link;
    return link;
}
