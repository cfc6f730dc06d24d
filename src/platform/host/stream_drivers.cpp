#include "platform/host/stream_drivers.h"

#include "sim/devices/simulated_devices.h"

namespace platform {
namespace host {

const StreamDriver kStreamDrivers[] = {
    {u"\\boot\\EEPromUtilDriver.dll", u"EPM", sim::devices::OpenEepromDevice},
};
const size_t kStreamDriverCount = sizeof(kStreamDrivers) / sizeof(kStreamDrivers[0]);

const BuiltInDevice kBuiltInDevices[] = {
    {"SPI1:", kSpiMasterDriver, sim::devices::OpenSpiMaster},
    {"SPI2:", kSpiMasterDriver, sim::devices::OpenSpiMaster},
    {"SPI3:", kSpiMasterDriver, sim::devices::OpenSpiMaster},
    {"SPI4:", kSpiMasterDriver, sim::devices::OpenSpiMaster},
    {"GIO1:", kPlainDriver, sim::devices::OpenGpioDevice},
};
const size_t kBuiltInDeviceCount = sizeof(kBuiltInDevices) / sizeof(kBuiltInDevices[0]);

}  // namespace host
}  // namespace platform
