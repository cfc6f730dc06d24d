// The platform's memory status.
#ifndef FWSETUP_PLATFORM_MEMORY_H
#define FWSETUP_PLATFORM_MEMORY_H

#include <cstdint>

namespace platform {

// GlobalMemoryStatus: the dwAvailPhys member, the physical memory in bytes that
// is available now. 0 when it cannot be told.
uint64_t AvailablePhysicalMemory();

}  // namespace platform

#endif
