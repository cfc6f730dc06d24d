// The peripheral configuration document: the input is the JSON text, put
// behind its CRC as a copied region 0 holds it, loaded and asked for the
// platform and the FPGA link as the actions ask.
#include <vector>

#include "fileutil/crc16.h"
#include "package/memory_stream.h"
#include "periphconfig/peripheral_config_file.h"
#include "support/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint16_t crc = Crc16::Compute(data, size);
    ByteVector stored;
    stored.reserve(size + 2);
    stored.push_back(static_cast<uint8_t>(crc & 0xFF));
    stored.push_back(static_cast<uint8_t>(crc >> 8));
    stored.insert(stored.end(), data, data + size);
    MemoryStream stream(stored);
    PeripheralConfigFile file;
    if (file.Load(stream)) {
        file.GetPlatformConfig()->GetProductName();
        file.FindFpgaHardwareConfig();
    }
    return 0;
}
