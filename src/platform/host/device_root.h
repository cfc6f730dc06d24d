// Host only: the folder that plays the printer (DEVICE), and device paths mapped into it.
//
// DEVICE/fs is the printer's file system, DEVICE/hw its hardware. The root is
// taken from the environment variable FWSETUP_DEVICE unless SetDeviceRoot named
// one. Without a root every platform call fails: nothing is ever written
// outside a device folder.
#ifndef FWSETUP_PLATFORM_HOST_DEVICE_ROOT_H
#define FWSETUP_PLATFORM_HOST_DEVICE_ROOT_H

#include <sys/stat.h>

#include <string>

#include "platform/host/safe_files.h"
#include "platform/types.h"

namespace platform {
namespace host {

// Names the device folder for this process; an empty string falls back to FWSETUP_DEVICE.
void SetDeviceRoot(const std::string& deviceDir);
// The device folder, or an empty string when none is set.
std::string DeviceRoot();

// A device path found below DEVICE/fs without following any link (see
// safe_files.h): the open folder that holds, or would hold, its last component.
struct DeviceEntry {
    DeviceEntry() : exists(false), isRoot(false) {}

    // The folder holding the entry (DEVICE itself for the root, whose entry is
    // "fs"); not valid when that folder does not exist.
    UniqueFd folder;
    // The entry's name in folder: the existing entry's own name when one matches
    // without regard to case, else the name as given.
    std::string name;
    // The whole host path, for comparisons and messages only: never open it.
    std::string hostPath;
    bool exists;
    struct stat st;  // what the entry is (not followed), when it exists
    bool isRoot;     // the device path names the root folder
};

// Finds a device path below DEVICE/fs. Components are matched against existing
// entries without regard to ASCII case; a component that does not exist keeps
// the case given, and so does every one after it. "." is dropped and ".." never
// climbs above the root. With makeFolders, missing folders on the way (not the
// last component) are created with the case given. False when no device is set
// or the path cannot be used: a NUL, a broken UTF-16 sequence, or anything but
// a folder or a regular file (a link, a FIFO, a socket, a device node) on the
// way or at the end. Below a regular file nothing exists.
bool ResolveDevicePath(const WString& devicePath, DeviceEntry& entry, bool makeFolders = false);

// Opens the regular file at a device path with OpenFileAt's rules and flags;
// -1 with errno set when it cannot be.
int OpenDeviceFile(const WString& devicePath, int flags, mode_t mode = 0666);

// The host path of a device path, as ResolveDevicePath finds it; for messages
// and for handing to another program, never to open a file with.
bool MapDevicePath(const WString& devicePath, std::string& hostPath);

// UTF-16 to UTF-8 and back, for host names; false on a broken sequence.
bool Utf16ToUtf8(const WString& in, std::string& out);
bool Utf8ToUtf16(const std::string& in, WString& out);

}  // namespace host
}  // namespace platform

#endif
