// The checks a kernel image in the BIN format must pass before it is flashed.
//
// Layout (integers little-endian uint32):
//   offset 0   7 bytes   signature "B000FF\n" or "S000FF\n"
//   offset 7   4 bytes   image start address
//   offset 11  4 bytes   image length (start + length must fit 32 bits)
//   offset 15  records, each a 12-byte header (address, data length, checksum)
//              followed by data length bytes; the checksum is the 32-bit sum of
//              the data bytes. A header with address 0 and checksum 0 ends the
//              list; its length field is not looked at and no data follows it.
//   offset 43  4 bytes   "ECEC" (0x43454345), inside the first record's data
// The byte after the signature (the start address's lowest byte) must be zero.
//
// Records are summed in pieces of one working buffer, so memory stays bounded
// whatever the lengths claim, and nothing is read beyond the end of the file.
#ifndef FWSETUP_KERNEL_KERNEL_IMAGE_CHECK_H
#define FWSETUP_KERNEL_KERNEL_IMAGE_CHECK_H

#include <cstdint>

#include "package/stream.h"
#include "platform/types.h"

const uint32_t kKernelImageSignatureSize = 7;
const uint32_t kKernelImageHeaderSize = 15;  // signature, start, length
const uint32_t kKernelImageRecordHeaderSize = 12;
const uint32_t kKernelImageMarkerOffset = 43;
const uint32_t kKernelImageMarker = 0x43454345u;  // "ECEC"
const uint32_t kKernelImageWorkingBufferSize = 0x100000;

// Why an image was refused; kKernelImageValid when it was not.
enum KernelImageFault {
    kKernelImageValid = 0,
    kKernelImageUnreadable,         // the file cannot be opened
    kKernelImageSignatureShort,     // fewer than 7 bytes
    kKernelImageSignatureWrong,     // neither "B000FF\n" nor "S000FF\n"
    kKernelImageHeaderShort,        // start or length cut off
    kKernelImageRangeOverflow,      // start + length beyond 32 bits
    kKernelImageRecordHeaderShort,  // the file ends before a complete record header
    kKernelImageRecordDataShort,    // a record's data runs past the end of the file
    kKernelImageChecksumMismatch,   // a record's bytes do not add up to its checksum
    kKernelImageMarkerShort,        // bytes 43..46 cannot be read
    kKernelImageMarkerWrong,        // bytes 43..46 are not "ECEC"
    kKernelImageTypeWrong,          // not a "bin" file (the byte after the signature)
};

// What a check found: the fault and, for record faults, the record concerned.
struct KernelImageCheck {
    KernelImageFault fault;
    uint32_t start;         // image start address, once read
    uint32_t length;        // image length, once read
    uint32_t records;       // data records that passed (the end record not counted)
    uint32_t recordIndex;   // the record at fault, counted from 0
    uint64_t recordOffset;  // file offset of its header
    uint32_t recordAddress;
    uint32_t recordLength;
    uint32_t recordChecksum;  // as stored
    uint32_t recordSum;       // as computed (checksum faults only)

    KernelImageCheck();
};

// Told of each data record whose checksum held, in file order, while the
// structure check reads on (check describes that record); lets a caller learn
// the layout from the same read.
class KernelImageRecordSink {
  public:
    virtual ~KernelImageRecordSink() {}
    virtual void Record(const KernelImageCheck& check) = 0;
};

// The structure check over stream, read from the image's first byte on: the
// signature, the start and length, and every record up to the end record.
// When it passes, check's record fields describe the end record.
bool CheckKernelImageStructure(Stream& stream, KernelImageCheck& check,
                               KernelImageRecordSink* sink = 0);

// The marker part of the signature check: read is what reading 4 bytes at
// offset 43 returned, bytes what arrived.
bool CheckKernelImageMarker(const uint8_t* bytes, int read, KernelImageCheck& check);

// The 32-bit sum of size bytes taken as unsigned values; with the processor's
// vector instructions where the build has them.
uint32_t SumKernelImageBytes(const uint8_t* data, uint32_t size);
// The same in plain C++, eight bytes at a time.
uint32_t SumKernelImageBytesPortable(const uint8_t* data, uint32_t size);

// A short English description of a fault ("checksum mismatch", ...).
const char* KernelImageFaultText(KernelImageFault fault);

#endif
