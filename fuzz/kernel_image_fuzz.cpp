// The kernel image check: the input is \boot\nk.bin, checked as before flashing
// (the structure with every record's checksum, then the marker and the type).
#include "kernel/wec_kernel_binary.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteDeviceFile("fs/boot/nk.bin", data, size);
    WecKernelBinary image;
    image.IsValidImage(u"\\boot\\nk.bin");
    return 0;
}
