// The FPGA package's files for the simulated printer's reference FPGA
// (sim/devices/reference_fpga.h): the algorithm sim/data/reference-fpga-
// algorithm.txt, built into the simulator, and a data file holding an image
// and a user code, made as `fwsetup fpga asm` and `fpga data make` make them.
#ifndef FWSETUP_SIM_REFERENCE_FPGA_PACKAGE_H
#define FWSETUP_SIM_REFERENCE_FPGA_PACKAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The rows the algorithm programs and verifies, of 16 bytes each.
const uint32_t kReferenceFpgaImageRows = 512;

struct ReferenceFpgaPackageFiles {
    std::vector<uint8_t> image;      // kReferenceFpgaImageRows rows
    uint32_t usercode = 0;           // dataset 4, most significant byte first
    std::vector<uint8_t> algorithm;  // algo.sea
    std::vector<uint8_t> data;       // data.sed: dataset 0x27 (the image, compressed in
                                     // blocks of one row) and dataset 4 (plain)
};

// The algorithm's text form.
std::string ReferenceFpgaAlgorithmText();

// The files for an image of kReferenceFpgaImageRows rows made from seed (a
// different seed gives a different image) and a user code.
ReferenceFpgaPackageFiles MakeReferenceFpgaPackageFiles(uint32_t seed, uint32_t usercode);

}  // namespace sim

#endif
