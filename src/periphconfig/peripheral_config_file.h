// The board's peripheral configuration document, as copied from EEPROM region 0.
//
//   offset  size   content
//   0       2      CRC-16/MAXIM-DOW of every byte from offset 2 on, low byte first
//   2      n - 2   JSON text, UTF-8, ending at the first zero byte or at the end
//
// 4 <= n <= 4194304. The CRC covers bytes after a zero byte that ends the text.
// The root object holds:
//
//   "platform"                  {"productName", "cpuEngine", "mainboard"}: strings
//   "configuration"/"devices"   an array of device objects, one record each
//
// The parse happens under jsonLock; records are built afterwards, in document
// order, by the factory of device_config.h.
#ifndef FWSETUP_PERIPHCONFIG_PERIPHERAL_CONFIG_FILE_H
#define FWSETUP_PERIPHCONFIG_PERIPHERAL_CONFIG_FILE_H

#include <rapidjson/document.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "package/stream.h"
#include "periphconfig/device_config.h"
#include "periphconfig/printhead_records.h"
#include "properties/json_document.h"

// The platform section. Immutable; shared through std::shared_ptr.
class PlatformConfig {
  public:
    // Three empty strings.
    PlatformConfig();
    PlatformConfig(const std::string& productName, const std::string& cpuEngine,
                   const std::string& mainboard);

    // The section read from a "platform" value: null when it is not an object
    // or one of its three members is missing or not a string.
    static std::shared_ptr<PlatformConfig> Read(const rapidjson::Value& platform);

    std::string GetProductName() const { return productName; }
    std::string GetCpuEngine() const { return cpuEngine; }
    std::string GetMainboard() const { return mainboard; }

    const std::string productName;  // the printer product, e.g. "OndrelSixHundredDpi"
    const std::string cpuEngine;
    const std::string mainboard;
};

class PeripheralConfigFile : public JsonDocument {
  public:
    // Size limits of the whole file, CRC included.
    static const uint32_t kMinSize = 4;
    static const uint32_t kMaxSize = 4194304;
    static const uint32_t kCrcSize = 2;

    // An empty object, no devices, the default platform.
    PeripheralConfigFile();
    ~PeripheralConfigFile();

    // Reset, LoadFromStream and, when that passed, the records of the document
    // appended to the device list. True when the document had a well-formed
    // platform section and the device list now holds at least one entry (null
    // entries count). A document without one leaves the platform as it was
    // and adds no devices.
    bool Load(Stream& stream);
    // Reads the stream byte by byte to its end, checks the size and the CRC and
    // parses the text; when all pass the parsed document (whatever its root)
    // replaces the held one. Reading stops one byte past kMaxSize.
    bool LoadFromStream(Stream& stream);

    // The platform record; never null.
    std::shared_ptr<PlatformConfig> GetPlatformConfig() const;
    // The first top-level record, in document order, whose name equals name byte
    // for byte; null when there is none. Nested records are never found.
    std::shared_ptr<DeviceConfig> FindDevice(std::string name) const;
    // FindDevice(FpgaHardwareConfig::kRecordName) when that record is of class
    // "FpgaHardwareConfig" and complete (FpgaHardwareConfig::FromRecord); null
    // otherwise: the board then has no FPGA link.
    std::shared_ptr<FpgaHardwareConfig> FindFpgaHardwareConfig() const;
    // The top-level records in document order, null entries included.
    const std::deque<std::shared_ptr<DeviceConfig> >& GetDevices() const { return devices_; }

  private:
    // False when the root has no well-formed platform section.
    bool BuildRecords();

    std::deque<std::shared_ptr<DeviceConfig> > devices_;
    std::shared_ptr<PlatformConfig> platform_;
};

#endif
