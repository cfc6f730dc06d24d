// Drives the host platform's power-cut injector (platform/host/power_cut.h):
// runs a piece of a test again and again in fresh child processes, cutting the
// power at its first, second, third... counted file operation, until a run
// ends without a cut.
#ifndef FWSETUP_TESTS_SUPPORT_POWER_CUT_H
#define FWSETUP_TESTS_SUPPORT_POWER_CUT_H

#include <cstdint>
#include <functional>
#include <string>

#include "support/temp_device.h"

namespace fwtest {

// What DEVICE/hw/power-cut-happened says about one run.
struct PowerCut {
    uint64_t number = 0;  // the operation the power was cut at; 0: the run went through
    std::string kind;     // "write", "flush", "move"... (empty when the run went through)
    std::string path;     // the device path of that operation
    bool happened() const { return number != 0; }
};

// Reads DEVICE/hw/power-cut-happened; a PowerCut with number 0 when it is absent.
PowerCut ReadPowerCut(const TempDevice& device);

// Makes the power go off at the count-th counted file operation of processes
// that start using the device from now on; count 0 removes the count file.
void SetPowerCutAfter(const TempDevice& device, uint64_t count);

// For count = 1, 2, ...: prepare() (in this process, without power-cut files),
// then run() in a fresh child with the power cut at operation count, then
// check(cut) in another fresh child with the power on again. Stops after the
// first run that went through (check sees cut.happened() false then), or when
// a child fails or hangs (a test failure), or after limit runs (a failure).
// Returns the number of runs that were cut.
uint64_t ForEachPowerCut(const TempDevice& device, const std::function<void()>& prepare,
                         const std::function<void()>& run,
                         const std::function<void(const PowerCut&)>& check, uint64_t limit = 500);

}  // namespace fwtest

#endif
