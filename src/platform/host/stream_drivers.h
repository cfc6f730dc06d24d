// Host only: where the stream-driver calls of devices.cpp go. The simulated
// devices themselves are simulator code (sim/devices/); this table only says
// which device names lead to which of them.
//
// Two kinds of driver:
// - loadable drivers, activated through the registry (ActivateDeviceEx) and
//   opened by the legacy name they were loaded under ("EPM1:");
// - built-in drivers, whose devices open on every printer without activation
//   ("SPI1:" to "SPI4:", "GIO1:").
#ifndef FWSETUP_PLATFORM_HOST_STREAM_DRIVERS_H
#define FWSETUP_PLATFORM_HOST_STREAM_DRIVERS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
namespace host {

// One open context of a stream driver (CreateFileW until CloseHandle). Calls on
// one context come from one thread at a time.
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

// Opens a context on the device legacyName ("EPM1:", "SPI2:") of the device
// folder DEVICE (device) with CreateFile's access and share mode; null when the
// driver refuses the open.
typedef OpenStreamDevice* (*OpenStreamDeviceFunction)(const std::string& device,
                                                      const std::string& legacyName,
                                                      uint32_t access, uint32_t shareMode);

// What the trace needs to know about a driver's control codes.
enum StreamDriverKind {
    kPlainDriver,
    // kSpiControlConfigure carries a reference to a channel configuration.
    kSpiMasterDriver,
};

struct StreamDriver {
    const char16_t* dll;     // the driver file on the device, e.g. "\boot\EEPromUtilDriver.dll"
    const char16_t* prefix;  // its three-letter device prefix
    OpenStreamDeviceFunction open;
};

extern const StreamDriver kStreamDrivers[];
extern const size_t kStreamDriverCount;

struct BuiltInDevice {
    const char* legacyName;  // "SPI1:"
    StreamDriverKind kind;
    OpenStreamDeviceFunction open;
};

extern const BuiltInDevice kBuiltInDevices[];
extern const size_t kBuiltInDeviceCount;

}  // namespace host
}  // namespace platform

#endif
