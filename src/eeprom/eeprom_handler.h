// Access to the main-board EEPROM: its header, region directory and regions.
#ifndef FWSETUP_EEPROM_EEPROM_HANDLER_H
#define FWSETUP_EEPROM_EEPROM_HANDLER_H

#include "platform/types.h"

class EEPromHandler {
  public:
    virtual ~EEPromHandler() {}
    // True when the EEPROM device is open.
    virtual bool IsOpen() const = 0;
    // Stores the file's bytes as region index (0..2) behind their CRC.
    virtual bool WriteRegionFromFile(int index, const WString& path) = 0;
    // Writes region index, CRC bytes first, to the file; the file is left alone on failure.
    virtual bool ReadRegionToFile(int index, const WString& path) = 0;
    // Erases the EEPROM and writes the format marker.
    virtual bool Format() = 0;
    // True when region index's payload equals the file's bytes.
    virtual bool VerifyRegion(int index, const WString& path) = 0;
    // Header position 0..3 set to text read as a number in base (2..36, or 0 for C prefixes).
    virtual bool WriteHeaderByte(int position, const WString& text, int base) = 0;
    // A 16-bit value at position and position + 1 (both 0..3), low byte first.
    virtual bool WriteHeaderWord(int position, const WString& text, int base) = 0;
    // 0xA5 at position when text is "1", 0x00 otherwise.
    virtual bool WriteHeaderFlag(int position, const WString& text) = 0;
    // The 64-byte header block to a file.
    virtual bool DumpHeader(const WString& path) = 0;
};

#endif
