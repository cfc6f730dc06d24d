// Host only: small JSON files that the simulated hardware keeps under DEVICE/hw.
#ifndef FWSETUP_PLATFORM_HOST_JSON_FILE_H
#define FWSETUP_PLATFORM_HOST_JSON_FILE_H

#include <rapidjson/document.h>

#include <string>

#include "platform/types.h"

namespace platform {
namespace host {

enum JsonFileState {
    kJsonFileMissing,  // no such file: document is an empty object
    kJsonFileLoaded,   // document holds the file's object
    kJsonFileBroken,   // unreadable, not JSON or not an object: leave the file alone
};

// The files live below the device folder device, named relative to it
// ("hw/registry.json"), and are opened as safe_files.h says: a link or
// anything else that is not a regular file there, or on the way, is broken.

// Reads a file that holds one JSON object.
JsonFileState LoadJsonObject(const std::string& device, const std::string& relative,
                             rapidjson::Document& document);
// Replaces the file by the document, indented, through a temporary file and a
// rename so that a reader never sees half of it. False when it cannot be
// written, or when something other than a regular file holds its name.
bool SaveJsonObject(const std::string& device, const std::string& relative,
                    const rapidjson::Document& document);

// Member of object whose name equals name without regard to ASCII case; null when none.
rapidjson::Value* FindMemberIgnoringCase(rapidjson::Value& object, const std::string& name);

// Appends one line to DEVICE/hw/trace/devices.log when the folder DEVICE/hw/trace
// exists (device is DEVICE); does nothing otherwise.
void TraceDeviceCall(const std::string& device, const std::string& line);

}  // namespace host
}  // namespace platform

#endif
