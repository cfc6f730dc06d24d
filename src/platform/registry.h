// The platform's registry: creating keys and setting their values.
//
// The calls mirror the platform's (RegCreateKeyExW, RegSetValueExW, RegFlushKey,
// RegCloseKey) and answer with its error codes (kErrorSuccess on success). Key
// and value names are matched without regard to ASCII letter case. None throws.
#ifndef FWSETUP_PLATFORM_REGISTRY_H
#define FWSETUP_PLATFORM_REGISTRY_H

#include <cstdint>

#include "platform/types.h"

namespace platform {

// A registry key handle; the predefined root keys are handles too.
enum RegKey : intptr_t {
    kNullRegKey = 0,
    kHKeyLocalMachine = static_cast<intptr_t>(0x80000002),
};

// Value types.
const uint32_t kRegSz = 1;
const uint32_t kRegBinary = 3;
const uint32_t kRegDword = 4;

// Error codes.
const long kErrorSuccess = 0;
const long kErrorFileNotFound = 2;
const long kErrorAccessDenied = 5;
const long kErrorInvalidHandle = 6;
const long kErrorInvalidParameter = 87;

// RegCreateKeyExW: opens subKey under root, creating it when it does not exist.
// key gets the open key; created (may be null) whether it was made now.
long RegCreateKeyEx(RegKey root, const WString& subKey, RegKey& key, bool* created);

// RegSetValueExW: size bytes of data as the value name of the given type. A
// kRegSz value is UTF-16 text with its terminating zero, a kRegDword value 4
// bytes, little-endian.
long RegSetValueEx(RegKey key, const WString& name, uint32_t type, const uint8_t* data,
                   uint32_t size);

// RegFlushKey: the key's values are on permanent storage afterwards.
long RegFlushKey(RegKey key);

// RegCloseKey.
long RegCloseKey(RegKey key);

}  // namespace platform

#endif
