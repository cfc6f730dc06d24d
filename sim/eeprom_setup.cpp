#include "sim/eeprom_setup.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "eeprom/eeprom_layout.h"
#include "eeprom/wec_eeprom_handler.h"
#include "platform/host/device_root.h"
#include "sim/default_peripherals.h"
#include "sim/device_files.h"

namespace fs = std::filesystem;

namespace sim {

const char kEepromDriverDevicePath[] = "\\boot\\EEPromUtilDriver.dll";

namespace {

// Region 0's file waits in the device's root folder, under a new name of its
// own, while the handler stores it.
const char kRegionStagingPrefix[] = "eeprom-region0-";

// Makes the device the platform's device for as long as it lives.
class DeviceRootScope {
  public:
    explicit DeviceRootScope(const fs::path& device) : previous_(platform::host::DeviceRoot()) {
        platform::host::SetDeviceRoot(fs::absolute(device).string());
    }
    ~DeviceRootScope() { platform::host::SetDeviceRoot(previous_); }
    DeviceRootScope(const DeviceRootScope&) = delete;
    DeviceRootScope& operator=(const DeviceRootScope&) = delete;

  private:
    std::string previous_;
};

WString Wide(const std::string& text) {
    WString wide;
    if (!platform::host::Utf8ToUtf16(text, wide))
        throw std::runtime_error("'" + text + "' is not UTF-8");
    return wide;
}

}  // namespace

void SetUpEeprom(const fs::path& device, const DeviceOptions& options) {
    WriteDeviceFile(device, DeviceRelativePath(kEepromDriverDevicePath),
                    "simulated EEPROM utility driver (device EPM1:)\n");
    if (!options.eeprom)
        return;

    if (options.boardId < 0 || options.boardId > 0xFFFF)
        throw std::runtime_error("board id " + std::to_string(options.boardId) +
                                 " is out of range (0..65535)");
    // Region 0: a file, the default peripheral configuration, or nothing.
    std::string region;
    std::string what = "the default peripheral configuration";
    if (options.region0) {
        what = options.region0->string();
        std::ifstream in(*options.region0, std::ios::binary);
        if (!in)
            throw std::runtime_error("cannot read " + what);
        region.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad())
            throw std::runtime_error("cannot read " + what);
    } else if (options.defaultRegion0) {
        const std::string document = options.product ? DefaultPeripheralDocument(*options.product)
                                                     : DefaultPeripheralDocument();
        region.assign(document.begin(), document.end());
    }
    if (region.size() > EEPromLayout::kMaxPayload)
        throw std::runtime_error(what + " is " + std::to_string(region.size()) +
                                 " bytes: an EEPROM region holds at most " +
                                 std::to_string(EEPromLayout::kMaxPayload));

    // A blank chip, then everything else through the module's handler.
    WriteDeviceFile(device, "hw/eeprom.bin",
                    std::string(EEPromLayout::kSize, static_cast<char>(0xFF)));
    DeviceRootScope root(device);
    WecEEPromHandler handler;
    if (!handler.IsOpen())
        throw std::runtime_error("the EEPROM utility driver does not load");
    if (!handler.Format())
        throw std::runtime_error("cannot format hw/eeprom.bin");
    if (!handler.WriteHeaderWord(static_cast<int>(EEPromLayout::kBoardIdPosition),
                                 Wide(std::to_string(options.boardId)), 10))
        throw std::runtime_error("cannot write the board id into hw/eeprom.bin");
    if (options.region0 || options.defaultRegion0) {
        DeviceStagingFile staging(device, kRegionStagingPrefix);
        staging.Write(region);
        if (!handler.WriteRegionFromFile(0, staging.DevicePath()))
            throw std::runtime_error("cannot store " + what + " as EEPROM region 0");
    }
}

}  // namespace sim
