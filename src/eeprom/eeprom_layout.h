// The main-board EEPROM's layout, declared once, and the checked arithmetic every
// offset and length goes through.
//
//   offset  size  content
//   0       1     format marker (0xA6 after formatting)
//   1       2     board id, little-endian
//   3       1     flag byte (0xA5 set, 0x00 clear)
//   4       12    region directory: 3 entries of (offset uint16, length uint16)
//   16      48    rest of the header block
//   64      ...   regions up to the end of the 32 KiB
//
// A stored region is its payload's CRC-16 (low byte first) followed by the
// payload; the directory length counts both. Regions start on multiples of 64
// and are written padded to a multiple of 64 bytes.
#ifndef FWSETUP_EEPROM_EEPROM_LAYOUT_H
#define FWSETUP_EEPROM_EEPROM_LAYOUT_H

#include <cstdint>

namespace EEPromLayout {

const uint32_t kSize = 0x8000;
const uint32_t kHeaderSize = 64;
const uint32_t kFormatMarkerPosition = 0;
const uint32_t kBoardIdPosition = 1;
const uint32_t kFlagPosition = 3;
// Header positions 0..3 are the ones the header operations may change.
const uint32_t kHeaderFieldsEnd = 4;
const uint32_t kDirectoryOffset = 4;
const uint32_t kDirectoryEntryCount = 3;
const uint32_t kDirectoryEntrySize = 4;
const uint32_t kDirectorySize = kDirectoryEntryCount * kDirectoryEntrySize;
const uint32_t kRegionAlignment = 64;
const uint32_t kCrcSize = 2;
// Marks an unused directory field; a blank EEPROM holds it everywhere.
const uint16_t kAbsent = 0xFFFF;
const uint8_t kErasedByte = 0xFF;
const uint8_t kFormatMarker = 0xA6;
const uint8_t kFlagSet = 0xA5;
const uint8_t kFlagClear = 0x00;
// Where the directory repair looks for region 0, and how far.
const uint16_t kRepairOffset = 64;
const uint16_t kRepairLength = 0x4000;
// The largest payload a region can carry.
const uint32_t kMaxPayload = kSize - kHeaderSize - kCrcSize;

// True when count bytes from offset lie inside the EEPROM (count > 0).
inline bool SpanFits(uint64_t offset, uint64_t count) {
    return count > 0 && offset <= kSize && count <= kSize - offset;
}

// True when [aStart, aStart + aCount) and [bStart, bStart + bCount) share a byte.
inline bool SpansOverlap(uint64_t aStart, uint64_t aCount, uint64_t bStart, uint64_t bCount) {
    return aCount > 0 && bCount > 0 && aStart < bStart + bCount && bStart < aStart + aCount;
}

// value rounded up to the next multiple of 64.
inline uint64_t AlignUp(uint64_t value) {
    return (value + kRegionAlignment - 1) / kRegionAlignment * kRegionAlignment;
}

}  // namespace EEPromLayout

// One directory entry as stored: offset and length of a region.
struct EEPromDirectoryEntry {
    uint16_t offset;
    uint16_t length;

    EEPromDirectoryEntry() : offset(EEPromLayout::kAbsent), length(EEPromLayout::kAbsent) {}
    EEPromDirectoryEntry(uint16_t o, uint16_t l) : offset(o), length(l) {}

    // An offset below 4 would point into the header's first fields.
    bool HasValidOffset() const { return offset != EEPromLayout::kAbsent && offset >= 4; }
    bool HasValidLength() const { return length != EEPromLayout::kAbsent && length != 0; }
    bool IsPresent() const { return HasValidOffset() && HasValidLength(); }
};

#endif
