// The simulated printer's stream-driver devices: what stands behind the device
// names that the host platform layer routes its calls to
// (src/platform/host/stream_drivers.cpp). One file per device:
//
//   eeprom_device.cpp    EPM1:, the EEPROM utility driver over hw/eeprom.bin
//   spi_master.cpp       SPI1: to SPI4:, the processor's SPI masters
//   gpio_device.cpp      GIO1:, the GPIO driver
//   fpga.cpp             the FPGA behind one SPI master and one GPIO pin
//                        (hw/fpga/): its wiring, and the script model
//   reference_fpga.cpp   the reference model of the FPGA's configuration port
//
// This code is C++11 and is linked into every host build of a setup module
// (through the host platform library), so it reaches the device folder only
// through the host layer's file helpers (platform/host/safe_files.h).
//
// Each function opens one context of a device of the device folder DEVICE
// (device) with CreateFile's access and share mode, or answers null when the
// driver refuses the open.
#ifndef FWSETUP_SIM_DEVICES_SIMULATED_DEVICES_H
#define FWSETUP_SIM_DEVICES_SIMULATED_DEVICES_H

#include <cstdint>
#include <string>

#include "platform/host/stream_drivers.h"

namespace sim {
namespace devices {

// EPM1: (any name the driver was loaded under).
platform::host::OpenStreamDevice* OpenEepromDevice(const std::string& device,
                                                   const std::string& legacyName, uint32_t access,
                                                   uint32_t shareMode);
// "SPI1:" to "SPI4:".
platform::host::OpenStreamDevice* OpenSpiMaster(const std::string& device,
                                                const std::string& legacyName, uint32_t access,
                                                uint32_t shareMode);
// "GIO1:".
platform::host::OpenStreamDevice* OpenGpioDevice(const std::string& device,
                                                 const std::string& legacyName, uint32_t access,
                                                 uint32_t shareMode);

}  // namespace devices
}  // namespace sim

#endif
