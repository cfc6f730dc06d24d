// The EEPROM directory and regions: the input is the EEPROM image (its first
// 32 KiB), read through the module's handler over the simulated driver: the
// directory with its repair, the board id, every region, and a write of region
// 0 with a new size, which moves the regions after it.
#include <vector>

#include "eeprom/eeprom_layout.h"
#include "eeprom/eeprom_reader.h"
#include "eeprom/wec_eeprom_handler.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = [] {
        const uint8_t driver[] = "driver";
        fuzz::WriteDeviceFile("fs/boot/EEPromUtilDriver.dll", driver, sizeof(driver) - 1);
        const std::vector<uint8_t> payload(100, 'p');
        fuzz::WriteDeviceFile("fs/UpgradeTemp/payload", payload.data(), payload.size());
        return true;
    }();
    (void)prepared;
    fuzz::WriteDeviceFile("hw/eeprom.bin", data,
                          size < EEPromLayout::kSize ? size : EEPromLayout::kSize);
    EEPromReader::ReadBoardId();
    WecEEPromHandler handler;
    for (int index = 0; index < 3; ++index) {
        handler.ReadRegionToFile(index, u"\\UpgradeTemp\\region");
        handler.VerifyRegion(index, u"\\UpgradeTemp\\payload");
    }
    handler.WriteRegionFromFile(0, u"\\UpgradeTemp\\payload");
    for (int index = 0; index < 3; ++index)
        handler.ReadRegion(index);
    return 0;
}
