// A simulated printer with the EEPROM utility driver's file and an EEPROM image
// the test lays out byte by byte.
#ifndef FWSETUP_TESTS_EEPROM_EEPROM_FIXTURE_H
#define FWSETUP_TESTS_EEPROM_EEPROM_FIXTURE_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/types.h"
#include "support/device_trace.h"
#include "support/temp_device.h"

namespace eepromtest {

const size_t kImageSize = 0x8000;

// 32 KiB of 0xFF: a blank chip.
ByteVector BlankImage();
// A blank chip with the format marker and board id.
ByteVector FormattedImage(uint16_t boardId);
// Sets directory entry index.
void SetEntry(ByteVector& image, int index, uint16_t offset, uint16_t length);
// The entry as stored in image.
std::pair<uint16_t, uint16_t> EntryOf(const ByteVector& image, int index);
// Puts payload behind its CRC at offset and points entry index at it.
void PutRegion(ByteVector& image, int index, uint16_t offset, const std::string& payload);
// CRC low byte, high byte, then payload.
ByteVector Stored(const std::string& payload);

class EepromDevice {
  public:
    // A device with the driver file; no image yet.
    EepromDevice();

    fwtest::TempDevice& Temp() { return temp_; }
    std::filesystem::path Hw(const std::string& name) const { return temp_.Hw() / name; }

    void WriteImage(const ByteVector& image) const;
    // The image's bytes; empty when it is missing.
    ByteVector Image() const;
    void RemoveDriverFile() const;
    // Marks the driver as loaded already, as another program would have left it.
    void MarkDriverLoaded() const;
    // True when hw/drivers.json lists EPM1:.
    bool DriverLoaded() const;

    // Starts tracing device calls; Trace() gives the calls so far.
    void StartTrace() const;
    std::vector<fwtest::TraceCall> Trace() const;
    // The traced writes so far.
    size_t TracedWrites() const;

  private:
    fwtest::TempDevice temp_;
};

std::string ReadHostFile(const std::filesystem::path& path);
void WriteHostFile(const std::filesystem::path& path, const std::string& contents);

}  // namespace eepromtest

#endif
