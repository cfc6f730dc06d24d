// The package payload: a stream of length-prefixed LZ4 blocks.
//
// Format (little-endian): repeated { int32 length L; L bytes of one LZ4 block }
// until the end of the file. Each block decodes to at most 8192 bytes and may
// refer back into the previous block's output only. No header, no checksum.
#ifndef FWSETUP_PACKAGE_LZ4_DECOMPRESSOR_H
#define FWSETUP_PACKAGE_LZ4_DECOMPRESSOR_H

#include "package/stream.h"
#include "platform/types.h"

const int kLz4BlockSize = 8192;
// LZ4's worst-case compressed size for a full block.
const int kLz4MaxCompressedBlockSize = 8240;

// Decodes block after block from source into destination until the first
// block that cannot be read or decoded; write results are not looked at.
void DecodeLz4Blocks(Stream& source, Stream& destination);

// Decodes source into destination (created or emptied). True when both files
// could be opened, however decoding ended; then deletes source when asked.
bool DecompressLz4File(const WString& source, const WString& destination, bool deleteSource);

#endif
