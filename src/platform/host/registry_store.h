// Host only: where the simulated registry keeps its keys, and lookups for the
// simulated device manager.
//
// The registry lives in DEVICE/hw/registry.json, one JSON object whose members are
// the full key names ("HKEY_LOCAL_MACHINE\Drivers\EEpromUtil"), each an object of
// values: a REG_SZ value is a JSON string, a REG_DWORD value a JSON number, any
// other value (or text that is not clean UTF-16 with its terminating zero)
// {"type": <type number>, "data": "<lower-case hex bytes>"}. Key and value names
// are matched without regard to ASCII letter case.
#ifndef FWSETUP_PLATFORM_HOST_REGISTRY_STORE_H
#define FWSETUP_PLATFORM_HOST_REGISTRY_STORE_H

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {
namespace host {

// The name of the root HKEY_LOCAL_MACHINE in the registry file.
extern const char kLocalMachineName[];

// A REG_SZ value of a key under HKEY_LOCAL_MACHINE; false when the registry, the
// key or the value is missing or the value is of another type.
bool QueryRegistryString(const WString& subKey, const WString& name, WString& value);
// A REG_DWORD value, likewise.
bool QueryRegistryDword(const WString& subKey, const WString& name, uint32_t& value);

}  // namespace host
}  // namespace platform

#endif
