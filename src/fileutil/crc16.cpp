#include "fileutil/crc16.h"

namespace Crc16 {
namespace {

// The register after shifting one byte through it, for every byte value.
struct Table {
    uint16_t entries[256];
    Table() {
        for (uint32_t byte = 0; byte < 256; ++byte) {
            uint16_t crc = static_cast<uint16_t>(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                                : static_cast<uint16_t>(crc >> 1);
            entries[byte] = crc;
        }
    }
};

// Built on first use, so that callers during static initialisation find it ready.
const Table& TheTable() {
    static const Table table;
    return table;
}

}  // namespace

uint16_t Compute(const uint8_t* data, size_t size) {
    const Table& table = TheTable();
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ table.entries[(crc ^ data[i]) & 0xFF]);
    return static_cast<uint16_t>(~crc);
}

uint16_t Compute(const ByteVector& data) {
    return Compute(data.empty() ? 0 : &data[0], data.size());
}

uint16_t Compute(const NString& data) {
    return Compute(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

}  // namespace Crc16
