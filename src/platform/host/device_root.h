// Host only: the folder that plays the printer (DEVICE), and device paths mapped into it.
//
// DEVICE/fs is the printer's file system, DEVICE/hw its hardware. The root is
// taken from the environment variable FWSETUP_DEVICE unless SetDeviceRoot named
// one. Without a root every platform call fails: nothing is ever written
// outside a device folder.
#ifndef FWSETUP_PLATFORM_HOST_DEVICE_ROOT_H
#define FWSETUP_PLATFORM_HOST_DEVICE_ROOT_H

#include <string>

#include "platform/types.h"

namespace platform {
namespace host {

// Names the device folder for this process; an empty string falls back to FWSETUP_DEVICE.
void SetDeviceRoot(const std::string& deviceDir);
// The device folder, or an empty string when none is set.
std::string DeviceRoot();
// DEVICE/hw/<name>, or an empty string when no device is set.
std::string HardwarePath(const std::string& name);

// Maps a device path to the host path under DEVICE/fs. Components are matched
// against existing entries without regard to ASCII case; a component that does
// not exist keeps the case given. "." is dropped and ".." never climbs above the
// root. False when no device is set or the path cannot be mapped (a NUL, a
// broken UTF-16 sequence, a symbolic link on the way).
bool MapDevicePath(const WString& devicePath, std::string& hostPath);

// UTF-16 to UTF-8 and back, for host names; false on a broken sequence.
bool Utf16ToUtf8(const WString& in, std::string& out);
bool Utf8ToUtf16(const std::string& in, WString& out);

}  // namespace host
}  // namespace platform

#endif
