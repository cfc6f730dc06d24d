// The link between the algorithm engine and the FPGA's configuration port.
//
// The engine drives the FPGA only through these seven operations, in this
// order per run: InitHardware; then transactions (StartTransaction, transfers,
// EndTransaction) and waits; then CloseHardware, which follows every run whose
// InitHardware succeeded, whatever the run's outcome. Transfers are whole bytes:
// bits is always a multiple of 8, and the first byte goes out first, most
// significant bit first.
//
// The module's link is the SPI/GPIO transport (DefaultFpgaLink); a caller may
// put another one in its place with SetFpgaLink, as the tests do with a
// scripted link.
#ifndef FWSETUP_FPGA_FPGA_LINK_H
#define FWSETUP_FPGA_FPGA_LINK_H

#include <cstdint>

class FpgaLink {
  public:
    virtual ~FpgaLink() {}
    // Opens the hardware for one run; false when it cannot be used.
    virtual bool InitHardware() = 0;
    // Selects the FPGA (chip select asserted); channel is the algorithm's.
    virtual bool StartTransaction(uint8_t channel) = 0;
    // Deselects the FPGA.
    virtual bool EndTransaction() = 0;
    // Sends bits / 8 bytes of data.
    virtual bool TransmitBits(const uint8_t* data, uint32_t bits) = 0;
    // Fills bits / 8 bytes of buffer with what the FPGA sends.
    virtual bool ReceiveBits(uint8_t* buffer, uint32_t bits) = 0;
    // Pauses for ms milliseconds.
    virtual bool WaitMilliseconds(uint32_t ms) = 0;
    // Releases what InitHardware opened.
    virtual bool CloseHardware() = 0;
};

// The module's own link, over the board's SPI and GPIO drivers.
FpgaLink& DefaultFpgaLink();

// The link the engine uses for its next run: the one given to SetFpgaLink, else
// DefaultFpgaLink().
FpgaLink& CurrentFpgaLink();

// Makes link the one the engine uses from now on (not owned: it must outlive
// every run that uses it); null returns to DefaultFpgaLink().
void SetFpgaLink(FpgaLink* link);

#endif
