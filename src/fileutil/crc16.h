// CRC-16/MAXIM-DOW: reflected polynomial 0xA001, initial value 0, final
// complement (the CRC of "123456789" is 0x44C2). It protects the EEPROM regions,
// the peripheral configuration document and the legacy property file.
#ifndef FWSETUP_FILEUTIL_CRC16_H
#define FWSETUP_FILEUTIL_CRC16_H

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace Crc16 {

// The CRC of size bytes at data (null is allowed when size is 0).
uint16_t Compute(const uint8_t* data, size_t size);
uint16_t Compute(const ByteVector& data);
uint16_t Compute(const NString& data);

}  // namespace Crc16

#endif
