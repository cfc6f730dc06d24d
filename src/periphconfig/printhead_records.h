// Records of the thermal printhead and the FPGA that feeds it: the lines that
// switch the printhead, the ADC channel that measures it, how the FPGA is
// reached, and the DAC chain next to it.
//
// Each record reads the members of its base first, then its own; the comment at
// each field gives the member and its kind (see device_config.h). Every device
// member is optional: absent, it leaves a null pointer (a list: empty).
#ifndef FWSETUP_PERIPHCONFIG_PRINTHEAD_RECORDS_H
#define FWSETUP_PERIPHCONFIG_PRINTHEAD_RECORDS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "periphconfig/bus_records.h"
#include "periphconfig/device_config.h"
#include "periphconfig/peripheral_records.h"

// "FpgaHardwareConfig": the FPGA's SPI link and the GPIO line that is its chip
// select. The accessors read spiMaster as an SPI device record ("SpiDevice") and
// gpioChipSelect as an AM335x GPIO record ("Am335xGpio"); a member of another
// class (or null) answers as if it were absent.
class FpgaHardwareConfig : public DeviceConfig {
  public:
    // The top-level name under which the FPGA link is looked up.
    static const char kRecordName[];
    // The SPI reference clock that GetClockDivider divides.
    static const uint32_t kSpiReferenceClock = 48000000;

    explicit FpgaHardwareConfig(const rapidjson::Value& object, int nesting = 0);

    const std::shared_ptr<DeviceConfig> spiMaster;       // "spiMaster", device
    const std::shared_ptr<DeviceConfig> gpioChipSelect;  // "gpioChipSelect", device

    // spiMaster when it is an SPI device record, else null.
    const SpiDeviceConfig* SpiDevice() const;
    // gpioChipSelect when it is an AM335x GPIO record, else null.
    const Am335xGpioConfig* ChipSelectGpio() const;
    // True when both are there and of their class: only then is there an FPGA link.
    bool IsComplete() const;

    // spiMaster's spiModule (0 without an SPI device).
    uint8_t GetSpiModule() const;
    // spiMaster's chipSelect (0 without an SPI device).
    uint8_t GetChipSelect() const;
    // True for clock modes 2 and 3.
    bool GetClockPolarity() const;
    // True for clock modes 1 and 3.
    bool GetClockPhase() const;
    // 48000000 / clkFrequency as unsigned 32-bit integers, the fraction dropped;
    // 1 when the frequency is 0 (and without an SPI device).
    uint32_t GetClockDivider() const;
    // spiMaster's wordLength (0 without an SPI device).
    uint8_t GetWordLength() const;
    // gpioChipSelect's pinNumber (bank * 32 + bit); -1 without an AM335x GPIO record.
    int32_t GetChipSelectPin() const;

    // record as an FpgaHardwareConfig when its class is "FpgaHardwareConfig"
    // and it is complete; null otherwise (no FPGA link).
    static std::shared_ptr<FpgaHardwareConfig> FromRecord(
        const std::shared_ptr<DeviceConfig>& record);
};

// "ThermalPrinthead"
class ThermalPrintheadConfig : public DeviceConfig {
  public:
    explicit ThermalPrintheadConfig(const rapidjson::Value& object, int nesting = 0);
    const std::shared_ptr<DeviceConfig> powerEnable;            // "powerEnable", device
    const std::shared_ptr<DeviceConfig> latch;                  // "latch", device
    const std::shared_ptr<DeviceConfig> strobeEnable;           // "strobeEnable", device
    const std::vector<std::shared_ptr<DeviceConfig> > strobes;  // "strobes", device list
    const std::shared_ptr<DeviceConfig> data;                   // "data", device
};

// "Rohm_KF3002_GD31C_Printhead"
class Rohm_KF3002_GD31C_PrintheadConfig : public ThermalPrintheadConfig {
  public:
    explicit Rohm_KF3002_GD31C_PrintheadConfig(const rapidjson::Value& object, int nesting = 0);
    const AdcChannel adcChannel;  // "adcChannel", name: AdcChannels
};

// "FpgaAcceleratedPrinthead"
class FpgaAcceleratedPrintheadConfig : public DeviceConfig {
  public:
    explicit FpgaAcceleratedPrintheadConfig(const rapidjson::Value& object, int nesting = 0);
    const std::shared_ptr<DeviceConfig> powerEnable;    // "powerEnable", device
    const std::shared_ptr<DeviceConfig> printEnable;    // "printEnable", device
    const std::shared_ptr<DeviceConfig> rasterSync;     // "rasterSync", device
    const std::shared_ptr<DeviceConfig> rasterPreSync;  // "rasterPreSync", device
    const std::shared_ptr<DeviceConfig> data;           // "data", device
    const std::shared_ptr<DeviceConfig> fpgaComm;       // "fpgaComm", device (normally "FpgaComm")
    const AdcChannel adcChannel;                        // "adcChannel", name: AdcChannels
};

// "PrintheadEepromConfig"
class PrintheadEepromConfig : public DeviceConfig {
  public:
    explicit PrintheadEepromConfig(const rapidjson::Value& object, int nesting = 0);
    const std::shared_ptr<DeviceConfig> printheadEeprom;     // "printheadEeprom", device
    const std::shared_ptr<DeviceConfig> eepromIoxMuxSwitch;  // "eepromIoxMuxSwitch", device
};

// "FpgaComm"
class FpgaCommConfig : public DeviceConfig {
  public:
    explicit FpgaCommConfig(const rapidjson::Value& object, int nesting = 0);
    const std::string fapiVersion;    // "fapiVersion", string
    const bool parallelDataTransfer;  // "parallelDataTransfer", flag
    const bool noHistoriesData;       // "noHistoriesData", flag
};

// "DacChannel"
class DacChannelConfig : public DeviceConfig {
  public:
    explicit DacChannelConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t channel;  // "channel", int
};

// "DaisyChainedDAC"
class DaisyChainedDACConfig : public DeviceConfig {
  public:
    explicit DaisyChainedDACConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t numDevices;            // "numDevices", int: DAC chips in the chain
    const int32_t numChannelsPerDevice;  // "numChannelsPerDevice", int
};

#endif
