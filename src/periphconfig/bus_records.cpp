#include "periphconfig/bus_records.h"

#include <sstream>

namespace {

#define ROWS_OF(rows) rows, sizeof(rows) / sizeof(rows[0])

const NameTable::Row kSpiTransferModeRows[] = {
    {"TransmitAndReceive", kSpiTransmitAndReceive},
    {"ReceiveFromDeviceOnly", kSpiReceiveFromDeviceOnly},
    {"TransmitToDeviceOnly", kSpiTransmitToDeviceOnly},
};

const NameTable::Row kSpiChipSelectPolarityRows[] = {
    {"ActiveLow", kSpiChipSelectActiveLow},
    {"ActiveHigh", kSpiChipSelectActiveHigh},
};

const NameTable::Row kSpiWriteModeRows[] = {
    {"DirectWrite", kSpiDirectWrite},
    {"DmaWrite", kSpiDmaWrite},
};

const NameTable::Row kI2CAddressModeRows[] = {
    {"SevenBit", kI2CSevenBit},
    {"TenBit", kI2CTenBit},
};

const NameTable::Row kPullTypeRows[] = {
    {"None", kPullNone},
    {"PullUp", kPullUp},
    {"PullDown", kPullDown},
};

// The name of 0 is spelt with a capital K.
const NameTable::Row kSpiPinMuxRows[] = {
    {"SPI0_clK_d0", 0},
    {"SPI0_clk_d0_d1_cs0", 1},
    {"SPI0_clk_d0_d1_cs1_cs0", 2},
    {"SPI1_clk_data_cs0_cs1_mux0", 3},
    {"SPI1_clk_data_cs0_cs1_mux1", 4},
    {"SPI1_clk_data_cs0_mux0_cs1_mux2", 5},
    {"SPI1_clk_data_cs0_mux2_cs1_mux0", 6},
    {"SPI1_clk_data_cs0_mux2_cs1_mux2", 7},
    {"SPI1_clk_data_mux0_cs0_mux1", 8},
    {"SPI1_clk_data_mux0_cs0_mux4", 9},
    {"SPI1_clk_data_mux1_cs0_mux4", 10},
    {"SPI1_clk_data_mux2_cs0_mux4", 11},
    {"SPI1_clk_data_mux0_cs0_cs1_mux3", 12},
    {"SPI1_clk_data_mux1_cs0_cs1_mux3", 13},
    {"SPI1_clk_data_mux1_cs0_cs1_mux2", 14},
    {"SPI1_clk_data_mux2_cs0_cs1_mux1", 15},
    {"SPI1_clk_data_mux2_cs0_cs1_mux3", 16},
    {"SPI1_clk_data_mux1_cs0_mux2_cs1_mux0", 17},
};

const NameTable::Row kI2CPinMuxRows[] = {
    {"I2C0", 0},      {"I2C1_mux0", 1}, {"I2C1_mux1", 2}, {"I2C1_mux2", 3},
    {"I2C1_mux3", 4}, {"I2C2_mux0", 5}, {"I2C2_mux1", 6}, {"I2C2_mux2", 7},
};

const NameTable::Row kGpmcPinMuxRows[] = {
    {"Gpmc_Mux0", 0},
};

const NameTable::Row kGpmcPinRows[] = {
    {"GPMC_AD_8", 0},  {"GPMC_AD_9", 1},  {"GPMC_AD_10", 2}, {"GPMC_AD_11", 3}, {"GPMC_AD_12", 4},
    {"GPMC_AD_13", 5}, {"GPMC_AD_14", 6}, {"GPMC_AD_15", 7}, {"GPMC_A_16", 8},  {"GPMC_A_17", 9},
    {"GPMC_A_18", 10}, {"GPMC_A_19", 11}, {"GPMC_A_20", 12}, {"GPMC_A_21", 13}, {"GPMC_WAIT1", 14},
    {"GPMC_CSN2", 15}, {"GPMC_CLK", 16},
};

// "group_bit" for every group and bit, in decimal without leading zeros; the
// value is group * bitsPerGroup + bit.
NameTable::Rows GroupBitRows(int groups, int bitsPerGroup) {
    NameTable::Rows rows;
    for (int group = 0; group < groups; ++group) {
        for (int bit = 0; bit < bitsPerGroup; ++bit) {
            std::ostringstream name;
            name << group << '_' << bit;
            rows.push_back(std::make_pair(name.str(), group * bitsPerGroup + bit));
        }
    }
    return rows;
}

std::vector<PinPullType> AsPullTypes(const std::vector<int32_t>& values) {
    std::vector<PinPullType> types;
    types.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        types.push_back(static_cast<PinPullType>(values[i]));
    return types;
}

}  // namespace

namespace DeviceNames {

const NameTable& SpiTransferModes() {
    static const NameTable table(ROWS_OF(kSpiTransferModeRows));
    return table;
}

const NameTable& SpiChipSelectPolarities() {
    static const NameTable table(ROWS_OF(kSpiChipSelectPolarityRows));
    return table;
}

const NameTable& SpiWriteModes() {
    static const NameTable table(ROWS_OF(kSpiWriteModeRows));
    return table;
}

const NameTable& I2CAddressModes() {
    static const NameTable table(ROWS_OF(kI2CAddressModeRows));
    return table;
}

const NameTable& PullTypes() {
    static const NameTable table(ROWS_OF(kPullTypeRows));
    return table;
}

const NameTable& SpiPinMux() {
    static const NameTable table(ROWS_OF(kSpiPinMuxRows));
    return table;
}

const NameTable& I2CPinMux() {
    static const NameTable table(ROWS_OF(kI2CPinMuxRows));
    return table;
}

const NameTable& GpmcPinMux() {
    static const NameTable table(ROWS_OF(kGpmcPinMuxRows));
    return table;
}

const NameTable& GpmcPins() {
    static const NameTable table(ROWS_OF(kGpmcPinRows));
    return table;
}

const NameTable& Am335xGpioPins() {
    static const NameTable table(GroupBitRows(4, 32));
    return table;
}

const NameTable& Tca6424Pins() {
    static const NameTable table(GroupBitRows(3, 8));
    return table;
}

const NameTable& Pca9505Pins() {
    static const NameTable table(GroupBitRows(5, 8));
    return table;
}

}  // namespace DeviceNames

SpiMasterBusConfig::SpiMasterBusConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting), module(ReadUint8(object, "module")) {}

Am335xSpiBusConfig::Am335xSpiBusConfig(const rapidjson::Value& object, int nesting)
    : SpiMasterBusConfig(object, nesting),
      pinMux(ReadName(object, "pinMux", DeviceNames::SpiPinMux())) {}

I2CMasterBusConfig::I2CMasterBusConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      channel(ReadUint8(object, "channel")),
      speed(ReadInt(object, "speed")) {}

Am335xI2CBusConfig::Am335xI2CBusConfig(const rapidjson::Value& object, int nesting)
    : I2CMasterBusConfig(object, nesting),
      pinMux(ReadName(object, "pinMux", DeviceNames::I2CPinMux())) {}

SpiDeviceConfig::SpiDeviceConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      spiModule(ReadUint8(object, "spiModule")),
      transferMode(static_cast<SpiTransferMode>(
          ReadName(object, "transferMode", DeviceNames::SpiTransferModes()))),
      chipSelect(ReadUint8(object, "chipSelect")),
      chipSelectPolarity(static_cast<SpiChipSelectPolarity>(
          ReadName(object, "chipSelectPolarity", DeviceNames::SpiChipSelectPolarities()))),
      clockMode(ReadUint8(object, "clockMode")),
      clkFrequency(ReadInt(object, "clkFrequency")),
      wordLength(ReadUint8(object, "wordLength")),
      writeMode(static_cast<SpiWriteMode>(
          ReadOptionalName(object, "writeMode", DeviceNames::SpiWriteModes()))),
      hasWriteMode(Has(object, "writeMode")) {}

I2CDeviceConfig::I2CDeviceConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      masterBus(ReadString(object, "masterBus")),
      address(ReadUint16(object, "address")),
      addressMode(static_cast<I2CAddressMode>(
          ReadName(object, "addressMode", DeviceNames::I2CAddressModes()))) {}

GpioConfig::GpioConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      direction(ReadTextIs(object, "direction", "Output")),
      level(ReadTextIs(object, "level", "High")),
      invertLogic(ReadFlag(object, "invertLogic")) {}

Am335xGpioConfig::Am335xGpioConfig(const rapidjson::Value& object, int nesting)
    : GpioConfig(object, nesting),
      pinNumber(ReadName(object, "pinNumber", DeviceNames::Am335xGpioPins())),
      pinPullType(
          static_cast<PinPullType>(ReadName(object, "pinPullType", DeviceNames::PullTypes()))) {}

GpmcBusConfig::GpmcBusConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      chipSelect(ReadUint8(object, "chipSelect")),
      pinMux(ReadName(object, "pinMux", DeviceNames::GpmcPinMux())),
      busPins(ReadBusPins(object, "name", DeviceNames::GpmcPins())),
      busPinPullTypes(AsPullTypes(ReadBusPins(object, "pullType", DeviceNames::PullTypes()))) {}

std::vector<int32_t> GpmcBusConfig::ReadBusPins(const rapidjson::Value& object, const char* member,
                                                const NameTable& table) {
    std::vector<int32_t> values;
    const rapidjson::Value* pins = ReadArray(object, "busPins");
    if (pins == 0)
        return values;
    values.reserve(pins->Size());
    for (rapidjson::Value::ConstValueIterator pin = pins->Begin(); pin != pins->End(); ++pin)
        values.push_back(ReadName(*pin, member, table));
    return values;
}

std::shared_ptr<GpioConfig> CreateGpioRecord(const rapidjson::Value* object, int nesting) {
    if (object == 0)
        return std::shared_ptr<GpioConfig>();
    if (ReadDeviceClass(*object) == kDeviceClassAm335xGpio)
        return DeviceConfig::Adopt<GpioConfig>(new Am335xGpioConfig(*object, nesting));
    return DeviceConfig::Adopt(new GpioConfig(*object, nesting));
}

namespace {

// The I2C device of an expander, whatever its class says; null when absent.
std::shared_ptr<I2CDeviceConfig> BuildI2CDevice(const rapidjson::Value* object, int nesting) {
    if (object == 0)
        return std::shared_ptr<I2CDeviceConfig>();
    return DeviceConfig::Adopt(new I2CDeviceConfig(*object, nesting));
}

}  // namespace

IoExpanderConfig::IoExpanderConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      device(BuildI2CDevice(ReadNestedObject(object, "device"), nesting + 1)),
      intPin(CreateGpioRecord(ReadNestedObject(object, "intPin"), nesting + 1)) {}

Slg46533IoExpanderConfig::Slg46533IoExpanderConfig(const rapidjson::Value& object, int nesting)
    : IoExpanderConfig(object, nesting), ioPoints(ReadDeviceList(object, "ioPoints")) {}

Tca6424IoExpanderPinConfig::Tca6424IoExpanderPinConfig(const rapidjson::Value& object, int nesting)
    : GpioConfig(object, nesting),
      pinNumber(ReadName(object, "pinNumber", DeviceNames::Tca6424Pins())),
      expanderName(ReadString(object, "expanderName")) {}

Pca9505IoExpanderPinConfig::Pca9505IoExpanderPinConfig(const rapidjson::Value& object, int nesting)
    : GpioConfig(object, nesting),
      expanderName(ReadString(object, "expanderName")),
      pinNumber(ReadName(object, "pinNumber", DeviceNames::Pca9505Pins())) {}

namespace {

uint8_t OptionalLowByte(const rapidjson::Value& object, const char* member) {
    const rapidjson::Value* value = DeviceConfig::Member(object, member);
    uint64_t bits = 0;
    if (value == 0 || !DeviceConfig::IntegerBits(*value, bits))
        return 0;
    return static_cast<uint8_t>(bits & 0xFFu);
}

bool OptionalBoolean(const rapidjson::Value& object, const char* member, bool fallback) {
    const rapidjson::Value* value = DeviceConfig::Member(object, member);
    return value != 0 && value->IsBool() ? value->GetBool() : fallback;
}

}  // namespace

Slg46533IoExpanderPinConfig::Slg46533IoExpanderPinConfig(const rapidjson::Value& object,
                                                         int nesting)
    : GpioConfig(object, nesting),
      ioNumber(ReadInt(object, "ioNumber")),
      address(ReadUint8(object, "address")),
      bitOffset(OptionalLowByte(object, "bitOffset")),
      interruptible(OptionalBoolean(object, "interruptible", true)) {}
