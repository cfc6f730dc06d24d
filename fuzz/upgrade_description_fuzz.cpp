// The upgrade description: the input is \UpgradeTemp\prevUpgrade.json, from
// which the build number of the replaced firmware driver is taken.
#include "properties/previous_build_number_property_creator.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = [] {
        const char available[] = "67108864";
        fuzz::WriteDeviceFile("hw/avail-phys", reinterpret_cast<const uint8_t*>(available),
                              sizeof(available) - 1);
        return true;
    }();
    (void)prepared;
    fuzz::WriteDeviceFile("fs/UpgradeTemp/prevUpgrade.json", data, size);
    PreviousBuildNumberPropertyCreator::GetBuildNumber();
    return 0;
}
