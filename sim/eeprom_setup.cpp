#include "sim/eeprom_setup.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "eeprom/eeprom_layout.h"
#include "eeprom/wec_eeprom_handler.h"
#include "platform/host/device_root.h"
#include "sim/default_peripherals.h"

namespace fs = std::filesystem;

namespace sim {

const char kEepromDriverDevicePath[] = "\\boot\\EEPromUtilDriver.dll";

namespace {

// Where region 0's file waits on the device while the handler stores it.
const char kRegionStagingPath[] = "\\eeprom-region0.staging";

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

void WriteHostFile(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

WString Wide(const std::string& text) {
    WString wide;
    if (!platform::host::Utf8ToUtf16(text, wide))
        throw std::runtime_error("'" + text + "' is not UTF-8");
    return wide;
}

}  // namespace

void SetUpEeprom(const fs::path& device, const DeviceOptions& options) {
    const fs::path driver = HostPath(device, kEepromDriverDevicePath);
    std::error_code ec;
    fs::create_directories(driver.parent_path(), ec);
    const std::string marker = "simulated EEPROM utility driver (device EPM1:)\n";
    WriteHostFile(driver, std::vector<char>(marker.begin(), marker.end()));
    if (!options.eeprom)
        return;

    if (options.boardId < 0 || options.boardId > 0xFFFF)
        throw std::runtime_error("board id " + std::to_string(options.boardId) +
                                 " is out of range (0..65535)");
    // Region 0: a file, the default peripheral configuration, or nothing.
    std::vector<char> region;
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
    WriteHostFile(device / "hw" / "eeprom.bin",
                  std::vector<char>(EEPromLayout::kSize, static_cast<char>(0xFF)));
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
        const fs::path staging = HostPath(device, kRegionStagingPath);
        WriteHostFile(staging, region);
        const bool stored = handler.WriteRegionFromFile(0, Wide(kRegionStagingPath));
        fs::remove(staging, ec);
        if (!stored)
            throw std::runtime_error("cannot store " + what + " as EEPROM region 0");
    }
}

}  // namespace sim
