#include "periphconfig/device_config.h"

#include "periphconfig/bus_records.h"
#include "periphconfig/peripheral_records.h"
#include "periphconfig/printhead_records.h"

namespace {

const NameTable::Row kClassRows[] = {
    {"Unknown", kDeviceClassUnknown},
    {"SpiMasterBus", kDeviceClassSpiMasterBus},
    {"I2CMasterBus", kDeviceClassI2CMasterBus},
    {"SpiDevice", kDeviceClassSpiDevice},
    {"I2CDevice", kDeviceClassI2CDevice},
    {"Gpio", kDeviceClassGpio},
    {"IoExpander", kDeviceClassIoExpander},
    {"IoExpanderPin", kDeviceClassIoExpanderPin},
    {"AnalogEdgeSensor", kDeviceClassAnalogEdgeSensor},
    {"DigitalEdgeSensor", kDeviceClassDigitalEdgeSensor},
    {"ThermalPrinthead", kDeviceClassThermalPrinthead},
    {"Rohm_KF3002_GD31C_Printhead", kDeviceClassRohm_KF3002_GD31C_Printhead},
    {"FpgaAcceleratedPrinthead", kDeviceClassFpgaAcceleratedPrinthead},
    {"Am335xAdc", kDeviceClassAm335xAdc},
    {"Am335xI2CBus", kDeviceClassAm335xI2CBus},
    {"Am335xGpio", kDeviceClassAm335xGpio},
    {"Am335xSpiBus", kDeviceClassAm335xSpiBus},
    {"Am335xPwm", kDeviceClassAm335xPwm},
    {"Am335xEqep", kDeviceClassAm335xEqep},
    {"Am335xEcap", kDeviceClassAm335xEcap},
    {"Am335xGeneralPurposeTimer", kDeviceClassAm335xGeneralPurposeTimer},
    {"Am335xGeneralPurposeIoTimer", kDeviceClassAm335xGeneralPurposeIoTimer},
    {"Tca6424IoExpander", kDeviceClassTca6424IoExpander},
    {"Tca6424IoExpanderPin", kDeviceClassTca6424IoExpanderPin},
    {"Pca9505IoExpander", kDeviceClassPca9505IoExpander},
    {"Pca9505IoExpanderPin", kDeviceClassPca9505IoExpanderPin},
    {"Slg46533IoExpander", kDeviceClassSlg46533IoExpander},
    {"Slg46533IoExpanderPin", kDeviceClassSlg46533IoExpanderPin},
    {"DacChannel", kDeviceClassDacChannel},
    {"GenericInterrupt", kDeviceClassGenericInterrupt},
    {"FpgaHardwareConfig", kDeviceClassFpgaHardwareConfig},
    {"GpmcBus", kDeviceClassGpmcBus},
    {"PrintheadEepromConfig", kDeviceClassPrintheadEepromConfig},
    {"DaisyChainedDAC", kDeviceClassDaisyChainedDAC},
    {"FpgaComm", kDeviceClassFpgaComm},
};

// The text of a JSON string, embedded zero bytes included.
std::string Text(const rapidjson::Value& value) {
    return std::string(value.GetString(), value.GetStringLength());
}

// A record of type Record for the object, or null when the object is malformed.
template <typename Record>
std::shared_ptr<DeviceConfig> Make(const rapidjson::Value& device, int nesting) {
    const std::shared_ptr<Record> record = std::make_shared<Record>(device, nesting);
    if (!record->IsWellFormed())
        return std::shared_ptr<DeviceConfig>();
    return record;
}

}  // namespace

namespace DeviceNames {

const NameTable& Classes() {
    static const NameTable table(kClassRows, sizeof(kClassRows) / sizeof(kClassRows[0]));
    return table;
}

}  // namespace DeviceNames

DeviceClass ParseDeviceClass(const std::string& name) {
    return static_cast<DeviceClass>(DeviceNames::Classes().Lookup(name));
}

DeviceClass ReadDeviceClass(const rapidjson::Value& device) {
    const rapidjson::Value* value = DeviceConfig::Member(device, "class");
    if (value == 0 || !value->IsString())
        return kDeviceClassUnknown;
    return ParseDeviceClass(Text(*value));
}

std::shared_ptr<DeviceConfig> CreateDeviceConfig(const rapidjson::Value& device, int nesting) {
    if (nesting < 0 || nesting >= DeviceConfig::kMaxNesting || !device.IsObject())
        return std::shared_ptr<DeviceConfig>();
    switch (ReadDeviceClass(device)) {
        case kDeviceClassSpiMasterBus:
            return Make<SpiMasterBusConfig>(device, nesting);
        case kDeviceClassI2CMasterBus:
            return Make<I2CMasterBusConfig>(device, nesting);
        case kDeviceClassSpiDevice:
            return Make<SpiDeviceConfig>(device, nesting);
        case kDeviceClassI2CDevice:
            return Make<I2CDeviceConfig>(device, nesting);
        case kDeviceClassGpio:
            return Make<GpioConfig>(device, nesting);
        case kDeviceClassIoExpander:
        case kDeviceClassTca6424IoExpander:
        case kDeviceClassPca9505IoExpander:
            return Make<IoExpanderConfig>(device, nesting);
        case kDeviceClassAnalogEdgeSensor:
            return Make<AnalogEdgeSensorConfig>(device, nesting);
        case kDeviceClassDigitalEdgeSensor:
            return Make<DigitalEdgeSensorConfig>(device, nesting);
        case kDeviceClassThermalPrinthead:
            return Make<ThermalPrintheadConfig>(device, nesting);
        case kDeviceClassRohm_KF3002_GD31C_Printhead:
            return Make<Rohm_KF3002_GD31C_PrintheadConfig>(device, nesting);
        case kDeviceClassFpgaAcceleratedPrinthead:
            return Make<FpgaAcceleratedPrintheadConfig>(device, nesting);
        case kDeviceClassAm335xAdc:
            return Make<Am335xAdcConfig>(device, nesting);
        case kDeviceClassAm335xI2CBus:
            return Make<Am335xI2CBusConfig>(device, nesting);
        case kDeviceClassAm335xGpio:
            return Make<Am335xGpioConfig>(device, nesting);
        case kDeviceClassAm335xSpiBus:
            return Make<Am335xSpiBusConfig>(device, nesting);
        case kDeviceClassAm335xPwm:
            return Make<Am335xPwmConfig>(device, nesting);
        case kDeviceClassAm335xEqep:
            return Make<Am335xEqepConfig>(device, nesting);
        case kDeviceClassAm335xEcap:
            return Make<Am335xEcapConfig>(device, nesting);
        case kDeviceClassAm335xGeneralPurposeTimer:
            return Make<Am335xGeneralPurposeTimerConfig>(device, nesting);
        case kDeviceClassAm335xGeneralPurposeIoTimer:
            return Make<Am335xGeneralPurposeIoTimerConfig>(device, nesting);
        case kDeviceClassTca6424IoExpanderPin:
            return Make<Tca6424IoExpanderPinConfig>(device, nesting);
        case kDeviceClassPca9505IoExpanderPin:
            return Make<Pca9505IoExpanderPinConfig>(device, nesting);
        case kDeviceClassSlg46533IoExpander:
            return Make<Slg46533IoExpanderConfig>(device, nesting);
        case kDeviceClassSlg46533IoExpanderPin:
            return Make<Slg46533IoExpanderPinConfig>(device, nesting);
        case kDeviceClassDacChannel:
            return Make<DacChannelConfig>(device, nesting);
        case kDeviceClassGenericInterrupt:
            return Make<GenericInterruptConfig>(device, nesting);
        case kDeviceClassFpgaHardwareConfig:
            return Make<FpgaHardwareConfig>(device, nesting);
        case kDeviceClassGpmcBus:
            return Make<GpmcBusConfig>(device, nesting);
        case kDeviceClassPrintheadEepromConfig:
            return Make<PrintheadEepromConfig>(device, nesting);
        case kDeviceClassDaisyChainedDAC:
            return Make<DaisyChainedDACConfig>(device, nesting);
        case kDeviceClassFpgaComm:
            return Make<FpgaCommConfig>(device, nesting);
        case kDeviceClassUnknown:
        case kDeviceClassIoExpanderPin:
            break;
    }
    return std::shared_ptr<DeviceConfig>();
}

DeviceConfig::DeviceConfig(const rapidjson::Value& object, int nesting)
    : nesting_(nesting),
      wellFormed_(object.IsObject()),
      name(ReadString(object, "name")),
      deviceClass(static_cast<DeviceClass>(ReadName(object, "class", DeviceNames::Classes()))) {}

DeviceConfig::~DeviceConfig() {}

const rapidjson::Value* DeviceConfig::Member(const rapidjson::Value& object, const char* member) {
    if (!object.IsObject())
        return 0;
    const rapidjson::Value::ConstMemberIterator found = object.FindMember(member);
    return found == object.MemberEnd() ? 0 : &found->value;
}

bool DeviceConfig::Has(const rapidjson::Value& object, const char* member) {
    return Member(object, member) != 0;
}

bool DeviceConfig::IntegerBits(const rapidjson::Value& value, uint64_t& bits) {
    if (value.IsUint64()) {
        bits = value.GetUint64();
        return true;
    }
    if (value.IsInt64()) {
        bits = static_cast<uint64_t>(value.GetInt64());
        return true;
    }
    return false;
}

std::string DeviceConfig::ReadString(const rapidjson::Value& object, const char* member) {
    const rapidjson::Value* value = Member(object, member);
    if (value == 0 || !value->IsString()) {
        MarkMalformed();
        return std::string();
    }
    return Text(*value);
}

int32_t DeviceConfig::ReadName(const rapidjson::Value& object, const char* member,
                               const NameTable& table) {
    const rapidjson::Value* value = Member(object, member);
    if (value == 0 || !value->IsString()) {
        MarkMalformed();
        return table.Fallback();
    }
    return table.Lookup(Text(*value));
}

int32_t DeviceConfig::ReadOptionalName(const rapidjson::Value& object, const char* member,
                                       const NameTable& table) {
    if (!Has(object, member))
        return table.Fallback();
    return ReadName(object, member, table);
}

int32_t DeviceConfig::ReadInt(const rapidjson::Value& object, const char* member) {
    const rapidjson::Value* value = Member(object, member);
    if (value == 0)
        return 0;
    uint64_t bits = 0;
    if (!IntegerBits(*value, bits)) {
        MarkMalformed();
        return 0;
    }
    const uint32_t low = static_cast<uint32_t>(bits & 0xFFFFFFFFu);
    // Two's complement without relying on the conversion of an out-of-range value.
    return low <= 0x7FFFFFFFu ? static_cast<int32_t>(low) : -static_cast<int32_t>(~low) - 1;
}

uint8_t DeviceConfig::ReadUint8(const rapidjson::Value& object, const char* member) {
    return static_cast<uint8_t>(static_cast<uint32_t>(ReadInt(object, member)) & 0xFFu);
}

uint16_t DeviceConfig::ReadUint16(const rapidjson::Value& object, const char* member) {
    return static_cast<uint16_t>(static_cast<uint32_t>(ReadInt(object, member)) & 0xFFFFu);
}

bool DeviceConfig::ReadFlag(const rapidjson::Value& object, const char* member) {
    const rapidjson::Value* value = Member(object, member);
    return value != 0 && value->IsTrue();
}

int32_t DeviceConfig::ReadTextIs(const rapidjson::Value& object, const char* member,
                                 const char* text) {
    const rapidjson::Value* value = Member(object, member);
    if (value == 0 || !value->IsString()) {
        MarkMalformed();
        return 0;
    }
    return Text(*value) == text ? 1 : 0;
}

std::shared_ptr<DeviceConfig> DeviceConfig::ReadDevice(const rapidjson::Value& object,
                                                       const char* member) {
    const rapidjson::Value* value = Member(object, member);
    if (value == 0)
        return std::shared_ptr<DeviceConfig>();
    if (!value->IsObject()) {
        MarkMalformed();
        return std::shared_ptr<DeviceConfig>();
    }
    return CreateDeviceConfig(*value, nesting_ + 1);
}

std::vector<std::shared_ptr<DeviceConfig> > DeviceConfig::ReadDeviceList(
    const rapidjson::Value& object, const char* member) {
    std::vector<std::shared_ptr<DeviceConfig> > records;
    const rapidjson::Value* list = ReadArray(object, member);
    if (list == 0)
        return records;
    records.reserve(list->Size());
    for (rapidjson::Value::ConstValueIterator element = list->Begin(); element != list->End();
         ++element)
        records.push_back(CreateDeviceConfig(*element, nesting_ + 1));
    return records;
}

const rapidjson::Value* DeviceConfig::ReadArray(const rapidjson::Value& object,
                                                const char* member) {
    const rapidjson::Value* value = Member(object, member);
    if (value == 0)
        return 0;
    if (!value->IsArray()) {
        MarkMalformed();
        return 0;
    }
    return value;
}

const rapidjson::Value* DeviceConfig::ReadNestedObject(const rapidjson::Value& object,
                                                       const char* member) {
    const rapidjson::Value* value = Member(object, member);
    if (value == 0)
        return 0;
    if (!value->IsObject()) {
        MarkMalformed();
        return 0;
    }
    return nesting_ + 1 < kMaxNesting ? value : 0;
}
