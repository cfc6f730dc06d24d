// Records of the board's buses and what hangs on them: SPI and I2C masters with
// their pin multiplexing, SPI and I2C devices, GPIO lines, the GPMC bus, and I/O
// expanders with their pins.
//
// Each record reads the members of its base first, then its own in the order of
// its fields; the comment at each field gives the member and its kind (see
// device_config.h). Names of other devices ("masterBus", "expanderName") are
// kept as text and never resolved.
#ifndef FWSETUP_PERIPHCONFIG_BUS_RECORDS_H
#define FWSETUP_PERIPHCONFIG_BUS_RECORDS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "periphconfig/device_config.h"

enum SpiTransferMode : int32_t {
    kSpiTransmitAndReceive = 0,
    kSpiReceiveFromDeviceOnly = 1,
    kSpiTransmitToDeviceOnly = 2,
};
enum SpiChipSelectPolarity : int32_t { kSpiChipSelectActiveLow = 0, kSpiChipSelectActiveHigh = 1 };
enum SpiWriteMode : int32_t { kSpiDirectWrite = 0, kSpiDmaWrite = 1 };
enum I2CAddressMode : int32_t { kI2CSevenBit = 0, kI2CTenBit = 1 };
enum PinPullType : int32_t { kPullNone = 0, kPullUp = 1, kPullDown = 2 };

namespace DeviceNames {
const NameTable& SpiTransferModes();         // "TransmitAndReceive" 0 .. "TransmitToDeviceOnly" 2
const NameTable& SpiChipSelectPolarities();  // "ActiveLow" 0, "ActiveHigh" 1
const NameTable& SpiWriteModes();            // "DirectWrite" 0, "DmaWrite" 1
const NameTable& I2CAddressModes();          // "SevenBit" 0, "TenBit" 1
// The pull-type rule of every pull-type member: "PullDown" 2, "PullUp" 1,
// anything else 0 ("None" is listed for the name of 0).
const NameTable& PullTypes();
const NameTable& SpiPinMux();       // 18 names, "SPI0_clK_d0" 0 .. 17
const NameTable& I2CPinMux();       // "I2C0" 0 .. "I2C2_mux2" 7
const NameTable& GpmcPinMux();      // "Gpmc_Mux0" 0
const NameTable& GpmcPins();        // "GPMC_AD_8" 0 .. "GPMC_CLK" 16
const NameTable& Am335xGpioPins();  // "bank_bit", bank 0..3, bit 0..31: bank * 32 + bit
const NameTable& Tca6424Pins();     // "port_bit", port 0..2, bit 0..7: port * 8 + bit
const NameTable& Pca9505Pins();     // "port_bit", port 0..4, bit 0..7: port * 8 + bit
}  // namespace DeviceNames

// "SpiMasterBus"
class SpiMasterBusConfig : public DeviceConfig {
  public:
    explicit SpiMasterBusConfig(const rapidjson::Value& object, int nesting = 0);
    const uint8_t module;  // "module", uint8: the processor's SPI module number
};

// "Am335xSpiBus"
class Am335xSpiBusConfig : public SpiMasterBusConfig {
  public:
    explicit Am335xSpiBusConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t pinMux;  // "pinMux", name: SpiPinMux
};

// "I2CMasterBus"
class I2CMasterBusConfig : public DeviceConfig {
  public:
    explicit I2CMasterBusConfig(const rapidjson::Value& object, int nesting = 0);
    const uint8_t channel;  // "channel", uint8: the I2C controller number
    const int32_t speed;    // "speed", int
};

// "Am335xI2CBus"
class Am335xI2CBusConfig : public I2CMasterBusConfig {
  public:
    explicit Am335xI2CBusConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t pinMux;  // "pinMux", name: I2CPinMux
};

// "SpiDevice"
class SpiDeviceConfig : public DeviceConfig {
  public:
    explicit SpiDeviceConfig(const rapidjson::Value& object, int nesting = 0);
    const uint8_t spiModule;                         // "spiModule", uint8
    const SpiTransferMode transferMode;              // "transferMode", name
    const uint8_t chipSelect;                        // "chipSelect", uint8
    const SpiChipSelectPolarity chipSelectPolarity;  // "chipSelectPolarity", name
    // "clockMode", uint8: SPI mode 0..3; modes 2 and 3 have clock polarity 1,
    // modes 1 and 3 clock phase 1.
    const int32_t clockMode;
    const int32_t clkFrequency;    // "clkFrequency", int: the SPI clock in Hz
    const uint8_t wordLength;      // "wordLength", uint8: bits per word
    const SpiWriteMode writeMode;  // "writeMode", optional name (DirectWrite when absent)
    const bool hasWriteMode;       // whether "writeMode" was read
};

// "I2CDevice"
class I2CDeviceConfig : public DeviceConfig {
  public:
    explicit I2CDeviceConfig(const rapidjson::Value& object, int nesting = 0);
    const std::string masterBus;       // "masterBus", string: the I2C master bus's name
    const uint16_t address;            // "address", uint16
    const I2CAddressMode addressMode;  // "addressMode", name
};

// "Gpio"
class GpioConfig : public DeviceConfig {
  public:
    explicit GpioConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t direction;  // "direction", string: 1 for exactly "Output", else 0 (input)
    const int32_t level;      // "level", string: 1 for exactly "High", else 0 (low)
    const bool invertLogic;   // "invertLogic", flag
};

// "Am335xGpio"
class Am335xGpioConfig : public GpioConfig {
  public:
    explicit Am335xGpioConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t pinNumber;        // "pinNumber", name: Am335xGpioPins (bank * 32 + bit)
    const PinPullType pinPullType;  // "pinPullType", name: PullTypes
};

// "GpmcBus"
class GpmcBusConfig : public DeviceConfig {
  public:
    explicit GpmcBusConfig(const rapidjson::Value& object, int nesting = 0);
    const uint8_t chipSelect;  // "chipSelect", uint8
    const int32_t pinMux;      // "pinMux", name: GpmcPinMux
    // "busPins": an array of objects (absent: empty), each with "name" (name:
    // GpmcPins) and "pullType" (name: PullTypes). Entry i of both lists
    // describes element i.
    const std::vector<int32_t> busPins;
    const std::vector<PinPullType> busPinPullTypes;

  private:
    std::vector<int32_t> ReadBusPins(const rapidjson::Value& object, const char* member,
                                     const NameTable& table);
};

// "IoExpander", "Tca6424IoExpander" and "Pca9505IoExpander"
class IoExpanderConfig : public DeviceConfig {
  public:
    explicit IoExpanderConfig(const rapidjson::Value& object, int nesting = 0);
    // "device": when present, built as an I2CDeviceConfig whatever its class says.
    const std::shared_ptr<I2CDeviceConfig> device;
    // "intPin": when present, an Am335xGpioConfig if its class is "Am335xGpio",
    // otherwise a GpioConfig.
    const std::shared_ptr<GpioConfig> intPin;
};

// "Slg46533IoExpander"
class Slg46533IoExpanderConfig : public IoExpanderConfig {
  public:
    explicit Slg46533IoExpanderConfig(const rapidjson::Value& object, int nesting = 0);
    // "ioPoints", device list: the expander's pins.
    const std::vector<std::shared_ptr<DeviceConfig> > ioPoints;
};

// "Tca6424IoExpanderPin"
class Tca6424IoExpanderPinConfig : public GpioConfig {
  public:
    explicit Tca6424IoExpanderPinConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t pinNumber;         // "pinNumber", name: Tca6424Pins
    const std::string expanderName;  // "expanderName", string
};

// "Pca9505IoExpanderPin"
class Pca9505IoExpanderPinConfig : public GpioConfig {
  public:
    explicit Pca9505IoExpanderPinConfig(const rapidjson::Value& object, int nesting = 0);
    const std::string expanderName;  // "expanderName", string
    const int32_t pinNumber;         // "pinNumber", name: Pca9505Pins
};

// "Slg46533IoExpanderPin"
class Slg46533IoExpanderPinConfig : public GpioConfig {
  public:
    explicit Slg46533IoExpanderPinConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t ioNumber;  // "ioNumber", int
    const uint8_t address;   // "address", uint8
    // "bitOffset": the low 8 bits of an integer; any other value or none gives 0.
    const uint8_t bitOffset;
    // "interruptible": the value of a boolean; any other value or none gives true.
    const bool interruptible;
};

// The GPIO record of a member that names no class of its own: an
// Am335xGpioConfig when the object's class is "Am335xGpio", else a GpioConfig.
// Null when object is null or malformed.
std::shared_ptr<GpioConfig> CreateGpioRecord(const rapidjson::Value* object, int nesting);

#endif
