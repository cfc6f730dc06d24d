// The tests' own description of every device class: its number, the record
// type the factory builds, and each field with the member it reads and the
// member's kind, base fields first, each type's fields in declaration order.
//
// From it the tests derive minimal well-formed device objects, which JSON
// types each member accepts, and what `periph show --json` must print for a
// device object (ExpectedRecord). Name tables are taken from the module (their
// contents are checked on their own in name_tables_test.cpp).
#ifndef FWSETUP_TESTS_PERIPHCONFIG_RECORD_SCHEMA_H
#define FWSETUP_TESTS_PERIPHCONFIG_RECORD_SCHEMA_H

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <typeinfo>
#include <vector>

#include "periphconfig/bus_records.h"
#include "periphconfig/device_config.h"
#include "periphconfig/peripheral_records.h"
#include "periphconfig/printhead_records.h"

namespace schema {

enum class Kind {
    String,        // required string, kept
    Name,          // required string through a table
    Text,          // required string compared with a text: 1 or 0
    Int,           // integer, low 32 bits signed; absent 0
    Uint8,         // integer, low 8 bits; absent 0
    Uint16,        // integer, low 16 bits; absent 0
    Flag,          // true only for JSON true
    Device,        // device object through the factory; absent null
    DeviceList,    // array of device objects; absent empty
    OptionalName,  // like Name, read (and printed) only when present
    I2CDevice,     // device object built as I2CDevice whatever its class
    GpioRecord,    // device object built as Am335xGpio when its class says so, else Gpio
    AdcRecord,     // device object built as Am335xAdc whatever its class
    OptionalByte,  // an integer's low 8 bits, anything else 0
    OptionalBool,  // a boolean's value, anything else true
    BusPinNames,   // "busPins" elements' "name" through the table
    BusPinPulls,   // "busPins" elements' "pullType" through the table
    NameList,      // array of strings through the table
};

typedef const NameTable& (*TableOf)();

struct Field {
    const char* field;
    const char* member;
    Kind kind;
    TableOf table = nullptr;
    const char* text = nullptr;    // Kind::Text: the text that gives 1
    const char* onlyIf = nullptr;  // read only when this member exists
};

struct Class {
    const char* name;
    int32_t number;
    const std::type_info* type;  // null: the factory builds no record
    std::vector<Field> fields;
};

inline std::vector<Field> Join(std::vector<Field> base, const std::vector<Field>& own) {
    base.insert(base.end(), own.begin(), own.end());
    return base;
}

inline const std::vector<Class>& Classes() {
    using K = Kind;
    namespace N = DeviceNames;
    static const std::vector<Field> spiMaster = {{"module", "module", K::Uint8}};
    static const std::vector<Field> i2cMaster = {{"channel", "channel", K::Uint8},
                                                 {"speed", "speed", K::Int}};
    static const std::vector<Field> gpio = {{"direction", "direction", K::Text, nullptr, "Output"},
                                            {"level", "level", K::Text, nullptr, "High"},
                                            {"invertLogic", "invertLogic", K::Flag}};
    static const std::vector<Field> am335xGpio =
        Join(gpio, {{"pinNumber", "pinNumber", K::Name, N::Am335xGpioPins},
                    {"pinPullType", "pinPullType", K::Name, N::PullTypes}});
    static const std::vector<Field> expander = {{"device", "device", K::I2CDevice},
                                                {"intPin", "intPin", K::GpioRecord}};
    static const std::vector<Field> thermal = {{"powerEnable", "powerEnable", K::Device},
                                               {"latch", "latch", K::Device},
                                               {"strobeEnable", "strobeEnable", K::Device},
                                               {"strobes", "strobes", K::DeviceList},
                                               {"data", "data", K::Device}};
    static const std::vector<Field> timer = {{"timerModule", "timerModule", K::Uint8}};
    static const std::vector<Class> classes = {
        {"Unknown", 0, nullptr, {}},
        {"SpiMasterBus", 1, &typeid(SpiMasterBusConfig), spiMaster},
        {"I2CMasterBus", 2, &typeid(I2CMasterBusConfig), i2cMaster},
        {"SpiDevice",
         3,
         &typeid(SpiDeviceConfig),
         {{"spiModule", "spiModule", K::Uint8},
          {"transferMode", "transferMode", K::Name, N::SpiTransferModes},
          {"chipSelect", "chipSelect", K::Uint8},
          {"chipSelectPolarity", "chipSelectPolarity", K::Name, N::SpiChipSelectPolarities},
          {"clockMode", "clockMode", K::Uint8},
          {"clkFrequency", "clkFrequency", K::Int},
          {"wordLength", "wordLength", K::Uint8},
          {"writeMode", "writeMode", K::OptionalName, N::SpiWriteModes}}},
        {"I2CDevice",
         4,
         &typeid(I2CDeviceConfig),
         {{"masterBus", "masterBus", K::String},
          {"address", "address", K::Uint16},
          {"addressMode", "addressMode", K::Name, N::I2CAddressModes}}},
        {"Gpio", 5, &typeid(GpioConfig), gpio},
        {"IoExpander", 6, &typeid(IoExpanderConfig), expander},
        {"IoExpanderPin", 7, nullptr, {}},
        {"AnalogEdgeSensor", 8, &typeid(AnalogEdgeSensorConfig), {{"adc", "adc", K::AdcRecord}}},
        {"DigitalEdgeSensor",
         9,
         &typeid(DigitalEdgeSensorConfig),
         {{"gpio", "gpio", K::GpioRecord}}},
        {"ThermalPrinthead", 10, &typeid(ThermalPrintheadConfig), thermal},
        {"Rohm_KF3002_GD31C_Printhead", 11, &typeid(Rohm_KF3002_GD31C_PrintheadConfig),
         Join(thermal, {{"adcChannel", "adcChannel", K::Name, N::AdcChannels}})},
        {"FpgaAcceleratedPrinthead",
         12,
         &typeid(FpgaAcceleratedPrintheadConfig),
         {{"powerEnable", "powerEnable", K::Device},
          {"printEnable", "printEnable", K::Device},
          {"rasterSync", "rasterSync", K::Device},
          {"rasterPreSync", "rasterPreSync", K::Device},
          {"data", "data", K::Device},
          {"fpgaComm", "fpgaComm", K::Device},
          {"adcChannel", "adcChannel", K::Name, N::AdcChannels}}},
        {"Am335xAdc",
         13,
         &typeid(Am335xAdcConfig),
         {{"channel", "channel", K::Name, N::AdcChannels, nullptr, "channel"},
          {"numSamplesToAverage", "numSamplesToAverage", K::Name, N::AdcAveragings, nullptr,
           "channel"}}},
        {"Am335xI2CBus", 14, &typeid(Am335xI2CBusConfig),
         Join(i2cMaster, {{"pinMux", "pinMux", K::Name, N::I2CPinMux}})},
        {"Am335xGpio", 15, &typeid(Am335xGpioConfig), am335xGpio},
        {"Am335xSpiBus", 16, &typeid(Am335xSpiBusConfig),
         Join(spiMaster, {{"pinMux", "pinMux", K::Name, N::SpiPinMux}})},
        {"Am335xPwm",
         17,
         &typeid(Am335xPwmConfig),
         {{"outputPin", "outputPin", K::Name, N::PwmOutputPins},
          {"eventTrigger", "eventTrigger", K::OptionalName, N::PwmEventTriggers}}},
        {"Am335xEqep",
         18,
         &typeid(Am335xEqepConfig),
         {{"module", "pinMux", K::Name, N::EqepModules},
          {"pinPullType", "pinPullType", K::Name, N::PullTypes},
          {"countsPerInt", "countsPerInt", K::Int},
          {"countsPerRev", "countsPerRev", K::Int},
          {"pinMux", "pinMux", K::Name, N::EqepPinMux},
          {"enabledInputs", "enabledInputs", K::NameList, N::EqepInputs}}},
        {"Am335xEcap",
         19,
         &typeid(Am335xEcapConfig),
         {{"pinMux", "outputPin", K::Name, N::EcapPinMux},
          {"module", "outputPin", K::Name, N::EcapModules}}},
        {"Am335xGeneralPurposeTimer", 20, &typeid(Am335xGeneralPurposeTimerConfig), timer},
        {"Am335xGeneralPurposeIoTimer", 21, &typeid(Am335xGeneralPurposeIoTimerConfig),
         Join(timer, {{"pinMux", "pinMux", K::Name, N::TimerPinMux},
                      {"level", "level", K::Text, nullptr, "High"},
                      {"pinPullType", "pinPullType", K::Name, N::PullTypes}})},
        {"Tca6424IoExpander", 22, &typeid(IoExpanderConfig), expander},
        {"Tca6424IoExpanderPin", 23, &typeid(Tca6424IoExpanderPinConfig),
         Join(gpio, {{"pinNumber", "pinNumber", K::Name, N::Tca6424Pins},
                     {"expanderName", "expanderName", K::String}})},
        {"Pca9505IoExpander", 24, &typeid(IoExpanderConfig), expander},
        {"Pca9505IoExpanderPin", 25, &typeid(Pca9505IoExpanderPinConfig),
         Join(gpio, {{"expanderName", "expanderName", K::String},
                     {"pinNumber", "pinNumber", K::Name, N::Pca9505Pins}})},
        {"Slg46533IoExpander", 26, &typeid(Slg46533IoExpanderConfig),
         Join(expander, {{"ioPoints", "ioPoints", K::DeviceList}})},
        {"Slg46533IoExpanderPin", 27, &typeid(Slg46533IoExpanderPinConfig),
         Join(gpio, {{"ioNumber", "ioNumber", K::Int},
                     {"address", "address", K::Uint8},
                     {"bitOffset", "bitOffset", K::OptionalByte},
                     {"interruptible", "interruptible", K::OptionalBool}})},
        {"DacChannel", 28, &typeid(DacChannelConfig), {{"channel", "channel", K::Int}}},
        {"GenericInterrupt",
         29,
         &typeid(GenericInterruptConfig),
         {{"irqNumber", "irqNumber", K::Int}}},
        {"FpgaHardwareConfig",
         30,
         &typeid(FpgaHardwareConfig),
         {{"spiMaster", "spiMaster", K::Device}, {"gpioChipSelect", "gpioChipSelect", K::Device}}},
        {"GpmcBus",
         31,
         &typeid(GpmcBusConfig),
         {{"chipSelect", "chipSelect", K::Uint8},
          {"pinMux", "pinMux", K::Name, N::GpmcPinMux},
          {"busPins", "busPins", K::BusPinNames, N::GpmcPins},
          {"busPinPullTypes", "busPins", K::BusPinPulls, N::PullTypes}}},
        {"PrintheadEepromConfig",
         32,
         &typeid(PrintheadEepromConfig),
         {{"printheadEeprom", "printheadEeprom", K::Device},
          {"eepromIoxMuxSwitch", "eepromIoxMuxSwitch", K::Device}}},
        {"DaisyChainedDAC",
         33,
         &typeid(DaisyChainedDACConfig),
         {{"numDevices", "numDevices", K::Int},
          {"numChannelsPerDevice", "numChannelsPerDevice", K::Int}}},
        {"FpgaComm",
         34,
         &typeid(FpgaCommConfig),
         {{"fapiVersion", "fapiVersion", K::String},
          {"parallelDataTransfer", "parallelDataTransfer", K::Flag},
          {"noHistoriesData", "noHistoriesData", K::Flag}}},
    };
    return classes;
}

inline const Class* FindClass(const std::string& name) {
    for (const Class& c : Classes()) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

// True for the kinds whose member must be there.
inline bool Required(const Field& field) {
    return !field.onlyIf &&
           (field.kind == Kind::String || field.kind == Kind::Name || field.kind == Kind::Text);
}

// A value the member accepts, for building well-formed objects.
inline rapidjson::Value ValidValue(const Field& field, rapidjson::Document::AllocatorType& a) {
    switch (field.kind) {
        case Kind::String:
            return rapidjson::Value("text", a);
        case Kind::Name:
        case Kind::OptionalName:
            return rapidjson::Value(field.table().GetRows().front().first.c_str(), a);
        case Kind::Text:
            return rapidjson::Value(field.text, a);
        default:
            return rapidjson::Value(7);
    }
}

// {"name", "class"} and every member that must be there, with valid values.
inline rapidjson::Value MinimalObject(const Class& c, rapidjson::Document::AllocatorType& a,
                                      bool withConditional = false) {
    rapidjson::Value object(rapidjson::kObjectType);
    object.AddMember("name", rapidjson::Value((std::string(c.name) + "-1").c_str(), a), a);
    object.AddMember("class", rapidjson::Value(c.name, a), a);
    for (const Field& field : c.fields) {
        if ((Required(field) || (withConditional && field.onlyIf)) &&
            !object.HasMember(field.member))
            object.AddMember(rapidjson::StringRef(field.member), ValidValue(field, a), a);
    }
    return object;
}

// The low 64 bits of a JSON integer; false for any other value.
inline bool IntegerBits(const rapidjson::Value& v, uint64_t& bits) {
    if (v.IsUint64()) {
        bits = v.GetUint64();
        return true;
    }
    if (v.IsInt64()) {
        bits = static_cast<uint64_t>(v.GetInt64());
        return true;
    }
    return false;
}

inline std::string TextOf(const rapidjson::Value& v) {
    return std::string(v.GetString(), v.GetStringLength());
}

inline const rapidjson::Value* MemberOf(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject())
        return nullptr;
    auto found = object.FindMember(name);
    return found == object.MemberEnd() ? nullptr : &found->value;
}

rapidjson::Value ExpectedRecord(const rapidjson::Value& device, int nesting, const Class* as,
                                rapidjson::Document::AllocatorType& a);

// The record `periph show --json` prints for the device object built as class
// as (or, when as is null, as its own class says), or null when no record is
// built. nesting counts the device objects around it.
inline rapidjson::Value ExpectedDevice(const rapidjson::Value& device, int nesting,
                                       rapidjson::Document::AllocatorType& a) {
    return ExpectedRecord(device, nesting, nullptr, a);
}

// The JSON value of one field; false when the member makes the record malformed.
inline bool ExpectedField(const Field& field, const rapidjson::Value& object, int nesting,
                          rapidjson::Document::AllocatorType& a, rapidjson::Value& out) {
    const rapidjson::Value* v = MemberOf(object, field.member);
    uint64_t bits = 0;
    switch (field.kind) {
        case Kind::String:
            if (!v || !v->IsString())
                return false;
            out.SetString(v->GetString(), v->GetStringLength(), a);
            return true;
        case Kind::Name:
        case Kind::OptionalName:
            if (!v || !v->IsString())
                return false;
            out.SetInt(field.table().Lookup(TextOf(*v)));
            return true;
        case Kind::Text:
            if (!v || !v->IsString())
                return false;
            out.SetInt(TextOf(*v) == field.text ? 1 : 0);
            return true;
        case Kind::Int:
        case Kind::Uint8:
        case Kind::Uint16:
            if (v && !IntegerBits(*v, bits))
                return false;
            if (field.kind == Kind::Int)
                out.SetInt(static_cast<int32_t>(static_cast<uint32_t>(bits)));
            else
                out.SetInt(static_cast<int>(bits & (field.kind == Kind::Uint8 ? 0xFF : 0xFFFF)));
            return true;
        case Kind::Flag:
            out.SetBool(v && v->IsTrue());
            return true;
        case Kind::OptionalByte:
            out.SetInt(v && IntegerBits(*v, bits) ? static_cast<int>(bits & 0xFF) : 0);
            return true;
        case Kind::OptionalBool:
            out.SetBool(v && v->IsBool() ? v->GetBool() : true);
            return true;
        case Kind::Device:
        case Kind::I2CDevice:
        case Kind::GpioRecord:
        case Kind::AdcRecord: {
            if (!v) {
                out.SetNull();
                return true;
            }
            if (!v->IsObject())
                return false;
            const Class* as = nullptr;
            if (field.kind == Kind::I2CDevice)
                as = FindClass("I2CDevice");
            if (field.kind == Kind::AdcRecord)
                as = FindClass("Am335xAdc");
            if (field.kind == Kind::GpioRecord) {
                const rapidjson::Value* cls = MemberOf(*v, "class");
                as = FindClass(cls && cls->IsString() && TextOf(*cls) == "Am335xGpio" ? "Am335xGpio"
                                                                                      : "Gpio");
            }
            out = ExpectedRecord(*v, nesting + 1, as, a);
            return true;
        }
        case Kind::DeviceList:
        case Kind::BusPinNames:
        case Kind::BusPinPulls:
        case Kind::NameList: {
            out.SetArray();
            if (!v)
                return true;
            if (!v->IsArray())
                return false;
            for (const rapidjson::Value& element : v->GetArray()) {
                if (field.kind == Kind::DeviceList) {
                    out.PushBack(ExpectedRecord(element, nesting + 1, nullptr, a), a);
                } else if (field.kind == Kind::NameList) {
                    if (!element.IsString())
                        return false;
                    out.PushBack(field.table().Lookup(TextOf(element)), a);
                } else {
                    const rapidjson::Value* text =
                        MemberOf(element, field.kind == Kind::BusPinNames ? "name" : "pullType");
                    if (!text || !text->IsString())
                        return false;
                    out.PushBack(field.table().Lookup(TextOf(*text)), a);
                }
            }
            return true;
        }
    }
    return false;
}

inline rapidjson::Value ExpectedRecord(const rapidjson::Value& device, int nesting, const Class* as,
                                       rapidjson::Document::AllocatorType& a) {
    if (!device.IsObject() || nesting >= DeviceConfig::kMaxNesting)
        return rapidjson::Value();
    const rapidjson::Value* name = MemberOf(device, "name");
    const rapidjson::Value* cls = MemberOf(device, "class");
    if (!name || !name->IsString() || !cls || !cls->IsString())
        return rapidjson::Value();
    const Class* own = FindClass(TextOf(*cls));
    const Class* c = as ? as : own;
    if (!c || !c->type)
        return rapidjson::Value();
    rapidjson::Value record(rapidjson::kObjectType);
    record.AddMember("name", rapidjson::Value(name->GetString(), name->GetStringLength(), a), a);
    record.AddMember("deviceClass", own ? own->number : 0, a);
    for (const Field& field : c->fields) {
        if (field.onlyIf && !MemberOf(device, field.onlyIf))
            continue;
        if (field.kind == Kind::OptionalName && !MemberOf(device, field.member))
            continue;
        rapidjson::Value value;
        if (!ExpectedField(field, device, nesting, a, value))
            return rapidjson::Value();
        record.AddMember(rapidjson::StringRef(field.field), value, a);
    }
    return record;
}

}  // namespace schema

#endif
