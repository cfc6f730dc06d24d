// The ini reader: the input is \boot\qtlibs_version.ini, asked for the quoted
// "QtBuildNumber" and its build number (the path taken without an upgrade
// description), and for a key of one character.
#include "properties/previous_build_number_property_creator.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteDeviceFile("fs/boot/qtlibs_version.ini", data, size);
    PreviousBuildNumberPropertyCreator::GetBuildNumber();
    ReadIniValue(PreviousBuildNumberPropertyCreator::kQtLibsVersionPath, "=");
    return 0;
}
