// The device manager and the stream-driver calls.
//
// The calls mirror the platform's: FindFirstDevice, ActivateDeviceEx and
// DeactivateDevice load and unload stream drivers; CreateFileW opens a loaded
// driver's device by its legacy name ("EPM1:"), and SetFilePointer, ReadFile,
// WriteFile and DeviceIoControl talk to the open device; CloseHandle closes any
// handle these calls return. What positioning and the control codes mean is the
// driver's business. Every call answers with a result; none throws.
#ifndef FWSETUP_PLATFORM_DEVICES_H
#define FWSETUP_PLATFORM_DEVICES_H

#include <cstdint>

#include "platform/types.h"

namespace platform {

// A handle of the device manager: a device search, an activated device or an
// open device. Its own type, so that it never mixes with other handles.
enum DeviceHandle : intptr_t {
    kNullDeviceHandle = 0,      // what ActivateDeviceEx answers on failure
    kInvalidDeviceHandle = -1,  // INVALID_HANDLE_VALUE
};

// FindFirstDevice search types.
const uint32_t kDeviceSearchByLegacyName = 0;  // matches "EPM1:"
const uint32_t kDeviceSearchByDeviceName = 1;  // matches "EPM1"

// The size field a caller puts into DeviceInformation (DEVMGR_DEVICE_INFORMATION).
const uint32_t kDeviceInformationSize = 0x630;

// What FindFirstDevice tells about the device it found.
struct DeviceInformation {
    uint32_t size;       // set by the caller to kDeviceInformationSize
    WString legacyName;  // "EPM1:"
    WString deviceKey;   // the registry key the device was activated with
    WString deviceName;  // "$device\EPM1"
    WString busName;     // empty: no bus driver
};

// FindFirstDevice: the first loaded device whose name (by searchType) matches
// pattern ("*" and "?", letter case ignored). A search handle (closed with
// CloseHandle) and info filled in, or kInvalidDeviceHandle when nothing matches,
// the search type is unknown or info.size is not kDeviceInformationSize.
DeviceHandle FindFirstDevice(uint32_t searchType, const WString& pattern, DeviceInformation& info);

// ActivateDeviceEx(key, NULL, 0, NULL): loads the driver that the registry key
// under HKEY_LOCAL_MACHINE names with its "Dll", "Prefix" and "Index" values. An
// activation handle, or kNullDeviceHandle when the driver cannot be loaded.
DeviceHandle ActivateDeviceEx(const WString& registryKey);

// DeactivateDevice: unloads the device of an activation handle. False for any
// other handle (a search handle included): nothing is unloaded then.
bool DeactivateDevice(DeviceHandle handle);

// CloseHandle for every handle above.
bool CloseHandle(DeviceHandle handle);

// Access rights and creation disposition of CreateFile.
const uint32_t kGenericRead = 0x80000000u;
const uint32_t kGenericWrite = 0x40000000u;
const uint32_t kOpenExisting = 3;

// CreateFileW on a loaded device's legacy name ("EPM1:"). kInvalidDeviceHandle
// when no loaded device has that name.
DeviceHandle CreateFile(const WString& deviceName, uint32_t access, uint32_t shareMode,
                        uint32_t creationDisposition);

// What SetFilePointer answers on failure.
const uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;

// SetFilePointer(device, distance, distanceHigh, moveMethod): passed to the driver
// unchanged; distanceHigh may be null. The driver's answer, or
// kInvalidSetFilePointer.
uint32_t SetFilePointer(DeviceHandle device, int32_t distance, int32_t* distanceHigh,
                        uint32_t moveMethod);

// ReadFile: up to count bytes into buffer; bytesRead (may be null) gets the
// number delivered, also when the call fails.
bool ReadFile(DeviceHandle device, uint8_t* buffer, uint32_t count, uint32_t* bytesRead);

// WriteFile: count bytes of data; bytesWritten (may be null) gets the number taken.
bool WriteFile(DeviceHandle device, const uint8_t* data, uint32_t count, uint32_t* bytesWritten);

// DeviceIoControl: a control code with optional input and output buffers (null
// with size 0 for none); bytesReturned may be null.
bool DeviceIoControl(DeviceHandle device, uint32_t code, const uint8_t* input, uint32_t inputSize,
                     uint8_t* output, uint32_t outputSize, uint32_t* bytesReturned);

}  // namespace platform

#endif
