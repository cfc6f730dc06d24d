// The package payload decoder: the input is the payload file, decoded block by
// block into the nested cabinet's file.
#include "package/lz4_decompressor.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteDeviceFile("fs/UpgradeTemp/payload.lz4", data, size);
    DecompressLz4File(u"\\UpgradeTemp\\payload.lz4", u"\\UpgradeTemp\\payload.Cab", false);
    return 0;
}
