// Basic types shared by the module and its platform layer.
#ifndef FWSETUP_PLATFORM_TYPES_H
#define FWSETUP_PLATFORM_TYPES_H

#include <cstdint>
#include <string>
#include <vector>

// Wide strings are 16-bit code units, as on the printer; every path is one.
typedef std::u16string WString;
// Narrow strings are bytes: file contents, JSON text, digests.
typedef std::string NString;
typedef std::vector<uint8_t> ByteVector;

#endif
