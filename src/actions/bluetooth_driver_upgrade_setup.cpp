#include "actions/bluetooth_driver_upgrade_setup.h"

#include <cstddef>
#include <cstdint>

#include "eeprom/eeprom_reader.h"
#include "fileutil/file_operation.h"

namespace BluetoothDriverUpgradeSetup {
namespace {

const WString kBt121LayoutMarker = u"bt121bluetoothdriver";
const WString kBleLayoutMarker = u"blebluetoothdriver";

const WString kBt121Driver = u"\\boot\\BT121BluetoothDriver.dll";
const WString kBt121DriverDigest = u"\\boot\\BT121BluetoothDriver.dll.md5";
const WString kBleDriver = u"\\boot\\BLEBluetoothDriver.dll";
const WString kBleDriverDigest = u"\\boot\\BLEBluetoothDriver.dll.md5";

// The board whose printers have no use for the BT121 driver.
const uint16_t kBoardWithoutBt121 = 18;
// The boards whose printers keep the BLE driver.
const uint16_t kBoardsKeepingBle[] = {18, 19, 21};

bool Contains(const WString& text, const WString& key) {
    return text.find(key) != WString::npos;
}

bool KeepsBleDriver(uint16_t boardId) {
    for (size_t i = 0; i < sizeof(kBoardsKeepingBle) / sizeof(kBoardsKeepingBle[0]); ++i) {
        if (kBoardsKeepingBle[i] == boardId)
            return true;
    }
    return false;
}

void DeleteDriver(const WString& driver, const WString& digest) {
    FileOperation::RemoveFile(driver);
    FileOperation::RemoveFile(digest);
}

}  // namespace

void DeleteIfNotReqd(const WString& layout) {
    const uint16_t boardId = EEPromReader::ReadBoardId();
    if (Contains(layout, kBt121LayoutMarker) && boardId == kBoardWithoutBt121) {
        DeleteDriver(kBt121Driver, kBt121DriverDigest);
    } else if (Contains(layout, kBleLayoutMarker) && !KeepsBleDriver(boardId)) {
        DeleteDriver(kBleDriver, kBleDriverDigest);
    }
}

}  // namespace BluetoothDriverUpgradeSetup
