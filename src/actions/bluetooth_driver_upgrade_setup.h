// The Bluetooth driver package: removes the driver this board does not use.
#ifndef FWSETUP_ACTIONS_BLUETOOTH_DRIVER_UPGRADE_SETUP_H
#define FWSETUP_ACTIONS_BLUETOOTH_DRIVER_UPGRADE_SETUP_H

#include "platform/types.h"

namespace BluetoothDriverUpgradeSetup {

// Given the lower-cased layout name: on board 18 a BT121 driver package takes
// the BT121 driver and its digest away again; on every board but 18, 19 and 21
// (an unreadable board id included) a BLE driver package takes the BLE driver
// and its digest away. Nothing else is touched; deletion results are ignored.
void DeleteIfNotReqd(const WString& layout);

}  // namespace BluetoothDriverUpgradeSetup

#endif
