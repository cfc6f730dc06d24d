// What the fuzz targets share: the entry point every target defines, and one
// temporary simulated printer per process for the targets that read files.
#ifndef FWSETUP_FUZZ_SUPPORT_FUZZ_DEVICE_H
#define FWSETUP_FUZZ_SUPPORT_FUZZ_DEVICE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/types.h"

// Called once per input by libFuzzer, or by the replay program of the ordinary build.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// The process's device: a fresh folder DEVICE (fs/ and hw/) under $TMPDIR or
// /tmp, made the platform's device root on the first call and removed when the
// process exits normally. Aborts the process when it cannot be made.
const std::string& DeviceRoot();

// Writes bytes to a host path below DEVICE ("fs/boot/nk.bin", "hw/eeprom.bin"),
// replacing the file; aborts when that fails, as the input could not be tried.
void WriteDeviceFile(const std::string& relativePath, const uint8_t* data, size_t size);

// u"..." from an ASCII text.
WString Wide(const std::string& ascii);

}  // namespace fuzz

#endif
