// Host only: the stream drivers the simulated device manager can load, one row
// each, and the interface of a device a driver opened.
#ifndef FWSETUP_PLATFORM_HOST_STREAM_DRIVERS_H
#define FWSETUP_PLATFORM_HOST_STREAM_DRIVERS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
namespace host {

// One open context of a loaded stream driver (CreateFileW until CloseHandle).
// Calls on one context come from one thread at a time.
class OpenStreamDevice {
  public:
    virtual ~OpenStreamDevice() {}
    // SetFilePointer; kInvalidSetFilePointer on failure.
    virtual uint32_t Seek(int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) = 0;
    // ReadFile / WriteFile: done is what was transferred, also on failure.
    virtual bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) = 0;
    virtual bool Write(const uint8_t* data, uint32_t count, uint32_t& done) = 0;
    // DeviceIoControl.
    virtual bool IoControl(uint32_t code, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                           uint32_t outputSize, uint32_t& returned) = 0;
};

// Opens a context on the device legacyName of the device folder DEVICE (device).
typedef OpenStreamDevice* (*OpenStreamDeviceFunction)(const std::string& device,
                                                      const std::string& legacyName);

struct StreamDriver {
    const char16_t* dll;     // the driver file on the device, e.g. "\boot\EEPromUtilDriver.dll"
    const char16_t* prefix;  // its three-letter device prefix
    OpenStreamDeviceFunction open;
};

extern const StreamDriver kStreamDrivers[];
extern const size_t kStreamDriverCount;

// The EEPROM utility driver.
OpenStreamDevice* OpenEepromDevice(const std::string& device, const std::string& legacyName);

}  // namespace host
}  // namespace platform

#endif
