// The FPGA configuration package: whether this board's FPGA is to be programmed.
#ifndef FWSETUP_ACTIONS_LATTICE_CONFIGURATOR_UPGRADE_SETUP_H
#define FWSETUP_ACTIONS_LATTICE_CONFIGURATOR_UPGRADE_SETUP_H

namespace LatticeConfiguratorUpgradeSetup {

// True unless the board id is 19; an unreadable board id gives true.
bool IsBoardSupportsFPGAUpgrade();

}  // namespace LatticeConfiguratorUpgradeSetup

#endif
