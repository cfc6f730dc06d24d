// Sidecar reading: the input is the digest file of \boot\data.bin, whose bytes
// are kData (the seeds hold its digest in the sidecar forms the reader takes).
#include "fileutil/md5.h"
#include "support/fuzz_device.h"

namespace {
const char kData[] = "fwsetup\n";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = [] {
        fuzz::WriteDeviceFile("fs/boot/data.bin", reinterpret_cast<const uint8_t*>(kData),
                              sizeof(kData) - 1);
        return true;
    }();
    (void)prepared;
    fuzz::WriteDeviceFile("fs/boot/data.bin.md5", data, size);
    VerifyWithSidecar(u"\\boot\\data.bin", u"\\boot\\data.bin.md5");
    return 0;
}
