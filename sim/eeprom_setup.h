// The EEPROM part of a fresh simulated printer: the utility driver's file and
// the EEPROM image, made through the module's own EEPROM handler.
#ifndef FWSETUP_SIM_EEPROM_SETUP_H
#define FWSETUP_SIM_EEPROM_SETUP_H

#include <filesystem>

#include "sim/device.h"

namespace sim {

// Where the EEPROM utility driver lives on the device.
extern const char kEepromDriverDevicePath[];

// Places the driver file and, unless options.eeprom is false, hw/eeprom.bin:
// 32768 bytes, formatted, with options.boardId and as region 0 options.region0
// or else (unless options.defaultRegion0 is false) the default peripheral
// configuration. Throws std::runtime_error with a one-line reason.
void SetUpEeprom(const std::filesystem::path& device, const DeviceOptions& options);

}  // namespace sim

#endif
