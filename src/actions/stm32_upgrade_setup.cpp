#include "actions/stm32_upgrade_setup.h"

#include <cstdint>

#include "eeprom/eeprom_reader.h"
#include "package/process_executor.h"

namespace Stm32UpgradeSetup {
namespace {

const WString kLayoutMarker = u"stm32upgrader";
const WString kUpgrader = u"\\UpgradeTemp\\STM32Upgrader";
const WString kUpgraderArguments = WString(u"-AH ") + u"\\UpgradeTemp\\BleHipBridge.bin";

// The board whose printers have no BLE coprocessor to upgrade.
const uint16_t kBoardWithoutCoprocessorUpgrade = 8;
// The upgrader's exit codes for a programmed coprocessor.
const int kUpgraded = 0;
const int kUpgradedToo = 9997;

}  // namespace

bool UpgradeBLEFw(const WString& layout) {
    if (EEPromReader::ReadBoardId() == kBoardWithoutCoprocessorUpgrade)
        return true;
    if (layout.find(kLayoutMarker) == WString::npos)
        return true;
    bool started = false;
    const int code = ProcessExecutor::ExecuteProcess(kUpgrader, kUpgraderArguments, true, started);
    // ExecuteProcess alone answers 0 for an upgrader that never ran; nothing was
    // programmed then, so that is a failure.
    if (!started)
        return false;
    return code == kUpgraded || code == kUpgradedToo;
}

}  // namespace Stm32UpgradeSetup
