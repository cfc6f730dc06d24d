#include "actions/lattice_configurator_upgrade_setup.h"

#include <cstdint>

#include "eeprom/eeprom_reader.h"

namespace LatticeConfiguratorUpgradeSetup {
namespace {

// The board whose FPGA is never reprogrammed by a package.
const uint16_t kBoardWithoutFpgaUpgrade = 19;

}  // namespace

bool IsBoardSupportsFPGAUpgrade() {
    return EEPromReader::ReadBoardId() != kBoardWithoutFpgaUpgrade;
}

}  // namespace LatticeConfiguratorUpgradeSetup
