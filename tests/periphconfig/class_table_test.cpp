// The class table and the factory: every class name, its number and the record
// type built for it.
#include <gtest/gtest.h>

#include <typeinfo>

#include "periph_test_util.h"
#include "periphconfig/device_config.h"
#include "periphconfig/record_schema.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;

TEST(DeviceClassTable, EveryNameHasItsNumber) {
    TempDevice device;
    ASSERT_EQ(schema::Classes().size(), 35u);
    ASSERT_EQ(DeviceNames::Classes().GetRows().size(), 35u);
    for (const schema::Class& c : schema::Classes()) {
        EXPECT_EQ(ParseDeviceClass(c.name), c.number) << c.name;
        EXPECT_EQ(DeviceNames::Classes().NameOf(c.number), c.name) << c.number;
    }
}

TEST(DeviceClassTable, AnyOtherTextIsUnknown) {
    TempDevice device;
    for (const char* text :
         {"", "gpio", "GPIO", "Gpio ", " Gpio", "Am335XGpio", "FpgaHardwareConfig\n",
          "Rohm_KF3002_GD31C_printhead", "DaisyChainedDac", "Unknown2"})
        EXPECT_EQ(ParseDeviceClass(text), kDeviceClassUnknown) << '"' << text << '"';
    // A name with an embedded zero byte is not the name before it.
    EXPECT_EQ(ParseDeviceClass(std::string("Gpio\0x", 6)), kDeviceClassUnknown);
}

TEST(DeviceClassTable, ReadDeviceClassNeedsAClassString) {
    TempDevice device;
    struct Case {
        const char* object;
        DeviceClass expected;
    };
    const Case cases[] = {
        {"{\"class\":\"Am335xAdc\"}", kDeviceClassAm335xAdc},
        {"{\"class\":\"DacChannel\",\"class\":\"Gpio\"}", kDeviceClassDacChannel},
        {"{}", kDeviceClassUnknown},
        {"{\"class\":13}", kDeviceClassUnknown},
        {"{\"class\":null}", kDeviceClassUnknown},
        {"{\"class\":[\"Gpio\"]}", kDeviceClassUnknown},
        {"[\"Gpio\"]", kDeviceClassUnknown},
        {"\"Gpio\"", kDeviceClassUnknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadDeviceClass(fwtest::ParseJson(c.object)), c.expected) << c.object;
}

// The factory builds the record type of each class; "Unknown" and
// "IoExpanderPin" are known names without a record type.
TEST(DeviceFactory, BuildsTheRecordTypeOfEachClass) {
    TempDevice device;
    rapidjson::Document document;
    for (const schema::Class& c : schema::Classes()) {
        const rapidjson::Value object = schema::MinimalObject(c, document.GetAllocator());
        const std::shared_ptr<DeviceConfig> record = CreateDeviceConfig(object);
        if (c.type == nullptr) {
            EXPECT_FALSE(record) << c.name;
            continue;
        }
        ASSERT_TRUE(record) << c.name << ": " << fwtest::Compact(object);
        EXPECT_TRUE(typeid(*record) == *c.type) << c.name << " gave " << typeid(*record).name();
        EXPECT_EQ(record->deviceClass, c.number) << c.name;
        EXPECT_EQ(record->name, std::string(c.name) + "-1");
        EXPECT_TRUE(record->IsWellFormed());
    }
}

TEST(DeviceFactory, TextsOutsideTheTableBuildNothing) {
    TempDevice device;
    for (const char* object :
         {"{\"name\":\"a\",\"class\":\"gpio\",\"direction\":\"Output\",\"level\":\"High\"}",
          "{\"name\":\"a\",\"class\":\"Frobnicator\"}", "{\"name\":\"a\"}", "{}", "[]", "null",
          "7"})
        EXPECT_FALSE(CreateDeviceConfig(fwtest::ParseJson(object))) << object;
}

}  // namespace
