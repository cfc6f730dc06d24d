// The reference FPGA: the project's own model of an FPGA configuration port
// (its protocol is described at the top of reference_fpga.cpp). Its state
// lasts across processes in DEVICE/hw/fpga/:
//
//   state.json  the port's state (ReferenceFpgaState, members as below)
//   array.bin   the configuration memory, kReferenceFpgaRows rows of
//               kReferenceFpgaRowBytes; absent or short: the rest is erased
//               (0xFF)
//
// Without state.json the FPGA is as it left the factory: blank, nothing
// programmed, not configured.
#ifndef FWSETUP_SIM_DEVICES_REFERENCE_FPGA_H
#define FWSETUP_SIM_DEVICES_REFERENCE_FPGA_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {
namespace devices {

// What IDENTIFY answers.
const uint32_t kReferenceFpgaId = 0x0F9A2301;
const uint32_t kReferenceFpgaRows = 4096;
const uint32_t kReferenceFpgaRowBytes = 16;
// Status reads an erase stays busy for.
const uint32_t kReferenceFpgaEraseTicks = 3;

// Status byte bits.
const uint8_t kFpgaStatusBusy = 0x01;
const uint8_t kFpgaStatusEnabled = 0x02;
const uint8_t kFpgaStatusErased = 0x04;
const uint8_t kFpgaStatusDone = 0x08;
const uint8_t kFpgaStatusError = 0x10;

struct ReferenceFpgaState {
    ReferenceFpgaState();

    bool enabled;             // "enabled": in configuration mode
    bool erased;              // "erased": erased, and no DONE since
    bool done;                // "done": configured, running the image
    bool error;               // "error": a command was refused since ENABLE
    uint32_t busyTicks;       // "busyTicks": status reads left until an erase ends
    uint32_t address;         // "address": the row address
    uint32_t rowsProgrammed;  // "rowsProgrammed": rows programmed since the erase
    uint32_t imageRows;       // "imageRows": the highest programmed row + 1
    uint32_t usercode;        // "usercode"
    std::string md5;          // "md5": of the running image's bytes; "" unless done
};

// The status byte of a state.
uint8_t ReferenceFpgaStatus(const ReferenceFpgaState& state);

enum ReferenceFpgaStateSource {
    kFpgaStateFresh,   // no state.json: a factory-fresh FPGA
    kFpgaStateLoaded,  // as state.json says
    kFpgaStateBroken,  // state.json unusable: the FPGA does not answer
};

ReferenceFpgaStateSource LoadReferenceFpgaState(const std::string& device,
                                                ReferenceFpgaState& state);

// Leaves the FPGA as its maker would: configured, running image (whole rows,
// the last one filled up with 0xFF; at most kReferenceFpgaRows) with the user
// code. False when it cannot be written.
bool SetReferenceFpgaImage(const std::string& device, const std::vector<uint8_t>& image,
                           uint32_t usercode);

// One transfer that the FPGA sees, during selection number selection of its
// pin (a new selection starts a new command).
void ReferenceFpgaWrite(const std::string& device, uint64_t selection, const uint8_t* data,
                        uint32_t count);
void ReferenceFpgaRead(const std::string& device, uint64_t selection, uint8_t* buffer,
                       uint32_t count);

}  // namespace devices
}  // namespace sim

#endif
