// The simulated FPGA of the printhead, kept in DEVICE/hw/fpga/:
//
//   wiring.json  {"spiModule": m, "chipSelectPin": p}: the FPGA's configuration
//                port hangs on SPI master m ("SPI<m+1>:") and is selected by
//                GPIO pin p driven low. Absent: as the default printer's
//                peripheral configuration says (module 0, pin 49); a member
//                left out keeps its default. A file that is not such an object
//                (or not a regular file) wires the FPGA to nothing.
//   model        "script" or "reference" (the text trimmed); absent: reference.
//                Any other text: an FPGA that never answers.
//   rx           script model: the answers, one line of hex per SPI read.
//   state.json, array.bin   reference model: see reference_fpga.h.
//
// The FPGA sees a transfer only while its pin is low and the transfer goes to
// its SPI master; otherwise reads give 0xFF bytes and writes go nowhere.
//
// Script model: each SPI read the FPGA sees consumes the first line of rx
// (which is rewritten without it) and answers its bytes, cut or padded with
// 0xFF to the read's length; past the last line (or without rx) the answer is
// 0xFF bytes. Hex digits may be of either case and spaced; the line ends at the
// first character that is neither. Writes are only traced.
#ifndef FWSETUP_SIM_DEVICES_FPGA_H
#define FWSETUP_SIM_DEVICES_FPGA_H

#include <cstdint>
#include <string>

namespace sim {
namespace devices {

struct FpgaWiring {
    uint32_t spiModule;
    int32_t chipSelectPin;
};

// The wiring of the default printer.
const FpgaWiring kDefaultFpgaWiring = {0, 49};

enum FpgaWiringSource {
    kWiringDefault,  // no wiring.json
    kWiringFile,     // as wiring.json says
    kWiringBroken,   // wiring.json unusable: wired to nothing
};

// The FPGA's wiring on the device folder device.
FpgaWiringSource ReadFpgaWiring(const std::string& device, FpgaWiring& wiring);

enum FpgaModel {
    kReferenceFpgaModel,
    kScriptFpgaModel,
    kSilentFpgaModel,  // an unknown model: never answers
};

// hw/fpga/model, and its trimmed text (empty when absent).
FpgaModel ReadFpgaModel(const std::string& device, std::string& text);

// What an SPI master (module 0..3) moves; called for every transfer it makes.
void FpgaBusWrite(const std::string& device, uint32_t spiModule, const uint8_t* data,
                  uint32_t count);
void FpgaBusRead(const std::string& device, uint32_t spiModule, uint8_t* buffer, uint32_t count);

}  // namespace devices
}  // namespace sim

#endif
