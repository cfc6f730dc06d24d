// The EEPROM through the platform's EEPROM utility driver (device EPM1:).
#ifndef FWSETUP_EEPROM_WEC_EEPROM_HANDLER_H
#define FWSETUP_EEPROM_WEC_EEPROM_HANDLER_H

#include <cstdint>
#include <vector>

#include "eeprom/eeprom_handler.h"
#include "eeprom/eeprom_layout.h"
#include "platform/devices.h"
#include "platform/types.h"

class WecEEPromHandler : public EEPromHandler {
  public:
    // Loads the driver unless it is loaded already, opens the device, reads the
    // directory and repairs a missing entry 0. Without a device the handler is
    // simply unusable: every read yields nothing and every operation fails.
    WecEEPromHandler();
    // Closes the device and unloads the driver when this handler loaded it.
    ~WecEEPromHandler();

    bool IsOpen() const;
    bool WriteRegionFromFile(int index, const WString& path);
    bool ReadRegionToFile(int index, const WString& path);
    bool Format();
    bool VerifyRegion(int index, const WString& path);
    bool WriteHeaderByte(int position, const WString& text, int base);
    bool WriteHeaderWord(int position, const WString& text, int base);
    bool WriteHeaderFlag(int position, const WString& text);
    bool DumpHeader(const WString& path);

    // At most count bytes from offset: empty when nothing came or the span leaves
    // the EEPROM, shorter than count when the device delivered less.
    ByteVector Read(uint32_t offset, uint32_t count);
    // Region index as stored (CRC bytes, then payload); empty when it is absent,
    // lies outside the EEPROM or cannot be read whole.
    ByteVector ReadRegion(int index);
    // The directory as last read (empty when it could not be read).
    const std::vector<EEPromDirectoryEntry>& Directory() const { return directory_; }

  private:
    WecEEPromHandler(const WecEEPromHandler&);
    WecEEPromHandler& operator=(const WecEEPromHandler&);

    void ActivateDriver();
    void OpenDevice();
    bool ReadDirectory();
    void RepairDirectory();
    bool WriteDirectory();
    // Announces count bytes at offset and writes data (data.size() <= count).
    bool WriteSpan(uint32_t offset, uint32_t count, const ByteVector& data);
    bool ReadHeader(ByteVector& header);
    bool WriteHeaderValue(int position, uint32_t value, uint32_t byteCount);

    platform::DeviceHandle activation_;
    platform::DeviceHandle device_;
    std::vector<EEPromDirectoryEntry> directory_;
};

#endif
