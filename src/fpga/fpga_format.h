// The two files of an FPGA configuration, declared once for the engine, the data
// file reader and the host tools that write and explain them.
//
// Numbers marked "varint" are groups of 7 bits, least significant group first;
// bit 7 of a byte set means another byte follows; bits that would land at
// position 32 or above are dropped.
//
// Algorithm file (".sea"): a header, then the algorithm stream.
//   any    comment blocks: 0xA0, any bytes, 0xA1 (none or several)
//   1+4    0xA2, algorithm id (most significant byte first)
//   1+3    0xA3, version (each byte at most kMaxVersion's)
//   1+1    0xA4, buffer size (not used)
//   1+1    0xA5, nesting depth (at most kMaxNestingDepth)
//   1+1    0xA6, mask buffer size (not used)
//   1+1    0xA7, channel (handed to StartTransaction)
//   1+1    0xA9 (or 0xA0), compression (not used)
//   1+2    0xA8, header checksum, high byte first: the low 16 bits of the sum of
//          every byte before the 0xA8; a byte 0xFF matches anything
//   1      0x60, start of the stream
// The stream is a sequence of opcodes (FpgaOpcode) with their operands.
//
// Data file (".sed"), either form may start with one comment block:
//   single dataset:    mode 0x00 (plain) or 0x01 (compressed blocks), then the data
//   several datasets:  mode 0xAA, count N (at most kMaxDatasets), N entries of
//                      { 0xAB, id (not 0), unused byte, size (varint, bytes
//                      delivered), compression (0 plain, else blocks), address
//                      (4 bytes, most significant first, from the first byte after
//                      the last entry) }; at its address each dataset has 2
//                      unused bytes, its stored data, then 4 unused bytes.
// Compressed data is stored as one block per transfer, of exactly the transfer's
// byte count: a type byte (FpgaBlockType), then plain bytes (type 0) or
// run-length pairs (types 1 and 2: a fill byte followed by a count N stands for
// N fill bytes; every other byte stands for itself).
#ifndef FWSETUP_FPGA_FPGA_FORMAT_H
#define FWSETUP_FPGA_FPGA_FORMAT_H

#include <cstdint>

// Algorithm file header tags.
const uint8_t kFpgaTagCommentStart = 0xA0;
const uint8_t kFpgaTagCommentEnd = 0xA1;
const uint8_t kFpgaTagAlgorithmId = 0xA2;
const uint8_t kFpgaTagVersion = 0xA3;
const uint8_t kFpgaTagBufferSize = 0xA4;
const uint8_t kFpgaTagNestingDepth = 0xA5;
const uint8_t kFpgaTagMaskBufferSize = 0xA6;
const uint8_t kFpgaTagChannel = 0xA7;
const uint8_t kFpgaTagChecksum = 0xA8;
const uint8_t kFpgaTagCompression = 0xA9;
// Also accepted in the place of kFpgaTagCompression.
const uint8_t kFpgaTagCompressionAlternative = 0xA0;
const uint8_t kFpgaStreamStart = 0x60;

const uint32_t kFpgaVersionSize = 3;
// The newest version the engine runs: each byte is compared on its own.
const uint8_t kFpgaMaxVersion[kFpgaVersionSize] = {4, 0, 0};
const uint8_t kFpgaMaxNestingDepth = 3;
// A checksum byte that matches whatever the sum is.
const uint8_t kFpgaChecksumAnyByte = 0xFF;
// A requested algorithm id that accepts whatever the file holds.
const uint32_t kFpgaAnyAlgorithmId = 0xFFFFFFFFu;

// Algorithm stream opcodes.
enum FpgaOpcode {
    OP_START_TRANSACTION = 0x10,
    OP_TRANSMIT = 0x12,   // bits (varint), source: 0x22 + inline bytes, or 0x27
    OP_RECEIVE = 0x13,    // bits (varint)
    OP_RUN_CLOCK = 0x14,  // count (varint, not 0)
    OP_NOP_COUNT = 0x15,  // count (varint, 0 allowed)
    OP_END_TRANSACTION = 0x1F,
    OP_MASK = 0x21,         // one mask byte per byte of the current transfer
    OP_INLINE_DATA = 0x22,  // expected bytes when a receive is pending, else none
    OP_DATASET_DATA = 0x25,
    OP_RESET_DATA = 0x26,
    OP_CHECKED_DATASET_DATA = 0x27,
    OP_WAIT = 0x40,    // milliseconds (varint, not 0)
    OP_REPEAT = 0x41,  // count (varint, not 0), body, OP_END_REPEAT
    OP_END_REPEAT = 0x42,
    OP_LOOP = 0x43,  // count (varint, not 0), body, OP_END_LOOP
    OP_END_LOOP = 0x44,
    OP_END_OF_ALGORITHM = 0x61,
    OP_COMMENT = 0xA0  // any bytes up to and including 0xA1
};

// The source byte after OP_TRANSMIT's bit count.
const uint8_t kFpgaSourceInline = 0x22;
const uint8_t kFpgaSourceDataset = 0x27;
// The datasets the opcodes take their bytes from.
const uint8_t kFpgaDatasetUnchecked = 0x04;  // OP_DATASET_DATA
const uint8_t kFpgaDatasetChecked = 0x27;    // OP_CHECKED_DATASET_DATA, OP_TRANSMIT source 0x27

// The engine's fixed buffers, and so the largest inputs it takes.
const uint32_t kFpgaReceiveBufferSize = 1024;  // received and dataset bytes of one transfer
const uint32_t kFpgaBodyBufferSize = 1024;     // one repeat or loop body
const uint32_t kFpgaMaskBufferSize = 128;
const uint32_t kFpgaMaskMaxBits = kFpgaMaskBufferSize * 8;
const uint32_t kFpgaDataBufferSize = 5000;  // inline bytes of one transfer
// File names are at most this many characters.
const uint32_t kFpgaMaxFileNameLength = 63;

// Data file mode bytes.
const uint8_t kFpgaDataModePlain = 0x00;
const uint8_t kFpgaDataModeCompressed = 0x01;
const uint8_t kFpgaDataModeMultiple = 0xAA;
const uint8_t kFpgaDatasetEntryTag = 0xAB;
const uint32_t kFpgaMaxDatasets = 16;
const uint32_t kFpgaResumeSlots = 5;
const uint32_t kFpgaDatasetLeadingBytes = 2;
const uint32_t kFpgaDatasetTrailingBytes = 4;
// The compression byte of a dataset entry that holds plain data; any other value
// means compressed blocks.
const uint8_t kFpgaDatasetPlain = 0;

// Compressed block types, and the fill byte of the run-length ones.
enum FpgaBlockType {
    kFpgaBlockPlain = 0,
    kFpgaBlockRunsOfFF = 1,
    kFpgaBlockRunsOf00 = 2,
};
const uint8_t kFpgaBlockTypeCount = 3;
inline uint8_t FpgaBlockFillByte(uint8_t type) {
    return type == kFpgaBlockRunsOfFF ? 0xFF : 0x00;
}

// Engine results.
const int kFpgaSuccess = 2;
const int kFpgaAlgorithmUnreadable = -1;
const int kFpgaDataError = -2;  // data file unreadable or malformed, a data byte missing
const int kFpgaVersionUnsupported = -3;
const int kFpgaChecksumMismatch = -4;
const int kFpgaHardwareUnavailable = -5;
const int kFpgaHeaderError = -6;
const int kFpgaStreamError = -11;
const int kFpgaResetFailed = -12;
const int kFpgaTransferFailed = -13;
const int kFpgaLoopFailed = -14;
const int kFpgaVerifyFailed = -20;

// Adds one varint byte to value (shift is the bit position of the byte's group,
// both start at 0); true when another byte follows.
inline bool FpgaVarintAdd(uint8_t byte, uint32_t& value, uint32_t& shift) {
    if (shift < 32) {
        value |= static_cast<uint32_t>(byte & 0x7F) << shift;
        shift += 7;
    }
    return (byte & 0x80) != 0;
}

// The whole bytes a transfer of bits spans.
inline uint32_t FpgaByteCount(uint32_t bits) {
    return bits / 8 + (bits % 8 != 0 ? 1 : 0);
}

#endif
