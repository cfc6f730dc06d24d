// The BLE coprocessor firmware package: runs the upgrader the package delivered.
#ifndef FWSETUP_ACTIONS_STM32_UPGRADE_SETUP_H
#define FWSETUP_ACTIONS_STM32_UPGRADE_SETUP_H

#include "platform/types.h"

namespace Stm32UpgradeSetup {

// Given the lower-cased layout name. True without doing anything on board 8 and
// for a layout that is not the coprocessor package's. Otherwise starts
// "\UpgradeTemp\STM32Upgrader -AH \UpgradeTemp\BleHipBridge.bin", waits for it,
// and is true when it ended with 0 or 9997; false for any other exit code and
// when the upgrader could not be started at all.
bool UpgradeBLEFw(const WString& layout);

}  // namespace Stm32UpgradeSetup

#endif
