// Telling CAB files and kernel image files apart by their first bytes.
//
// The first 10 bytes must be readable. Compared at offset 0, in this order:
//   "MSCF" 00                 -> "cab" (the zero is the reserved field's first byte)
//   "B000FF" 0A 00            -> "bin" (the zero is the image start's lowest byte)
//   "S000FF" 0A 00            -> "bin"
// Anything else, a shorter file or one that cannot be opened has no type ("").
#ifndef FWSETUP_FILEUTIL_FILE_TYPE_H
#define FWSETUP_FILEUTIL_FILE_TYPE_H

#include <cstdint>

#include "platform/types.h"

// How many leading bytes the type test needs.
const uint32_t kFileTypeHeaderSize = 10;

// The type of a file whose first count bytes are header: "cab", "bin" or "".
WString FileTypeOfHeader(const uint8_t* header, uint32_t count);

// The type of the file at path: "cab", "bin" or "".
WString GetFileType(const WString& path);

// True when GetFileType of path equals type, both lower-cased.
bool IsFileOfType(const WString& path, const WString& type);

#endif
