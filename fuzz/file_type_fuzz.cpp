// The file-type test: the input is a file that may be a cabinet or a kernel image.
#include "fileutil/file_type.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteDeviceFile("fs/UpgradeTemp/file", data, size);
    IsFileOfType(u"\\UpgradeTemp\\file", u"cab");
    IsFileOfType(u"\\UpgradeTemp\\file", u"BIN");
    return 0;
}
