// Device records of the peripheral configuration: the common base, the class
// table and the factory that turns one device object into the record of its class.
//
// Every device object has a "name" and a "class" (both strings). The class
// decides the record type and so the further members read. Records are built
// only by their constructors, are immutable afterwards and are shared through
// std::shared_ptr. A record carries no run-time type information beyond
// deviceClass: code that needs a particular type checks deviceClass (or knows
// the type from where the record came from) and then converts with a static cast.
//
// Member kinds and how each one reads (the records' own headers list which
// member has which kind):
//
//   kind           present                                   absent
//   string         the JSON string                           the record is malformed
//   name           a JSON string looked up in the field's    the record is malformed
//                  table (exact, case-sensitive); a text
//                  the table lacks gives its fallback
//   int            a JSON integer, its low 32 bits, signed   0
//   uint8, uint16  a JSON integer, its low 8 or 16 bits      0
//   flag           true only for JSON true                   false
//   device         a device object, built by the factory     null
//   device list    an array; each element built by the      empty
//                  factory, null records included
//   optional name  like name, read only when present         the table's fallback
//
// A member of another JSON type than its kind reads (a flag excepted: any value
// reads) makes its record malformed, and the factory hands out a null record for
// a malformed one, as for an unknown class. Device objects nested deeper than
// kMaxNesting levels are not built either (null record), so that building never
// recurses without bound.
#ifndef FWSETUP_PERIPHCONFIG_DEVICE_CONFIG_H
#define FWSETUP_PERIPHCONFIG_DEVICE_CONFIG_H

#include <rapidjson/document.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "periphconfig/name_table.h"

// The member "class"; the numbers are fixed (they are not grouped by family).
enum DeviceClass : int32_t {
    kDeviceClassUnknown = 0,
    kDeviceClassSpiMasterBus = 1,
    kDeviceClassI2CMasterBus = 2,
    kDeviceClassSpiDevice = 3,
    kDeviceClassI2CDevice = 4,
    kDeviceClassGpio = 5,
    kDeviceClassIoExpander = 6,
    kDeviceClassIoExpanderPin = 7,
    kDeviceClassAnalogEdgeSensor = 8,
    kDeviceClassDigitalEdgeSensor = 9,
    kDeviceClassThermalPrinthead = 10,
    kDeviceClassRohm_KF3002_GD31C_Printhead = 11,
    kDeviceClassFpgaAcceleratedPrinthead = 12,
    kDeviceClassAm335xAdc = 13,
    kDeviceClassAm335xI2CBus = 14,
    kDeviceClassAm335xGpio = 15,
    kDeviceClassAm335xSpiBus = 16,
    kDeviceClassAm335xPwm = 17,
    kDeviceClassAm335xEqep = 18,
    kDeviceClassAm335xEcap = 19,
    kDeviceClassAm335xGeneralPurposeTimer = 20,
    kDeviceClassAm335xGeneralPurposeIoTimer = 21,
    kDeviceClassTca6424IoExpander = 22,
    kDeviceClassTca6424IoExpanderPin = 23,
    kDeviceClassPca9505IoExpander = 24,
    kDeviceClassPca9505IoExpanderPin = 25,
    kDeviceClassSlg46533IoExpander = 26,
    kDeviceClassSlg46533IoExpanderPin = 27,
    kDeviceClassDacChannel = 28,
    kDeviceClassGenericInterrupt = 29,
    kDeviceClassFpgaHardwareConfig = 30,
    kDeviceClassGpmcBus = 31,
    kDeviceClassPrintheadEepromConfig = 32,
    kDeviceClassDaisyChainedDAC = 33,
    kDeviceClassFpgaComm = 34,
};

namespace DeviceNames {
// The 35 class names with their numbers; any other text gives 0 ("Unknown").
const NameTable& Classes();
}  // namespace DeviceNames

// The number of a class name; 0 when the name is not in the class table.
DeviceClass ParseDeviceClass(const std::string& name);
// The class of a device object's "class" member; 0 when the value is not an
// object or its "class" is missing or not a string.
DeviceClass ReadDeviceClass(const rapidjson::Value& device);

class DeviceConfig;
// The record for a device object: its class's record type, or a null pointer
// for a class without one (0, 7, any unknown text), a malformed object and an
// object nested kMaxNesting levels or deeper (nesting counts the device objects
// around it; a top-level device has nesting 0).
std::shared_ptr<DeviceConfig> CreateDeviceConfig(const rapidjson::Value& device, int nesting = 0);

class DeviceConfig {
  private:
    // Declared first: the field readers below use them while the fields are made.
    const int nesting_;
    bool wellFormed_;

  public:
    // Levels of nested device objects that are built.
    static const int kMaxNesting = 16;

    // Reads "name" and "class"; nesting as for CreateDeviceConfig.
    explicit DeviceConfig(const rapidjson::Value& object, int nesting = 0);
    virtual ~DeviceConfig();

    const std::string name;
    const DeviceClass deviceClass;

    // False when a member was missing where required or of another JSON type.
    bool IsWellFormed() const { return wellFormed_; }

  protected:
    int Nesting() const { return nesting_; }

    // The field readers, one per member kind (see the top of this file).
    std::string ReadString(const rapidjson::Value& object, const char* member);
    int32_t ReadName(const rapidjson::Value& object, const char* member, const NameTable& table);
    int32_t ReadOptionalName(const rapidjson::Value& object, const char* member,
                             const NameTable& table);
    int32_t ReadInt(const rapidjson::Value& object, const char* member);
    uint8_t ReadUint8(const rapidjson::Value& object, const char* member);
    uint16_t ReadUint16(const rapidjson::Value& object, const char* member);
    static bool ReadFlag(const rapidjson::Value& object, const char* member);
    // A required string compared with text: 1 when equal, 0 otherwise.
    int32_t ReadTextIs(const rapidjson::Value& object, const char* member, const char* text);
    std::shared_ptr<DeviceConfig> ReadDevice(const rapidjson::Value& object, const char* member);
    std::vector<std::shared_ptr<DeviceConfig> > ReadDeviceList(const rapidjson::Value& object,
                                                               const char* member);
    // The value of a member that must be an array when present: null when absent
    // (the record stays well formed), null and malformed when not an array.
    const rapidjson::Value* ReadArray(const rapidjson::Value& object, const char* member);
    // The value of a member that must be a device object when present, for the
    // records that build a nested record of a fixed type themselves: null when
    // absent or nested too deep, null and malformed when not an object.
    const rapidjson::Value* ReadNestedObject(const rapidjson::Value& object, const char* member);
    // For the records that read members of a kind of their own (lists of pins,
    // lists of names): an element of the wrong type makes the record malformed.
    void MarkMalformed() { wellFormed_ = false; }

  public:
    // Takes a nested record built with new (the records that build a nested
    // record of a fixed type); null when it is malformed.
    template <typename Record>
    static std::shared_ptr<Record> Adopt(Record* record) {
        std::shared_ptr<Record> owned(record);
        if (owned && !owned->IsWellFormed())
            owned.reset();
        return owned;
    }
    // The member's value, or null when object is not an object or lacks it.
    static const rapidjson::Value* Member(const rapidjson::Value& object, const char* member);
    // True when object is an object with that member.
    static bool Has(const rapidjson::Value& object, const char* member);
    // The low 64 bits of a JSON integer (negative ones in two's complement);
    // false for every other value, fractions and exponents included.
    static bool IntegerBits(const rapidjson::Value& value, uint64_t& bits);

  private:
    DeviceConfig(const DeviceConfig&);
    DeviceConfig& operator=(const DeviceConfig&);
};

#endif
