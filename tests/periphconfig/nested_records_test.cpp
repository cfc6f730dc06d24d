// Records that hold other records: typed members built whatever their class
// says, device members and lists through the factory, the bound on nesting, and
// the FPGA hardware configuration's link settings.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>

#include "periph_test_util.h"
#include "periphconfig/bus_records.h"
#include "periphconfig/peripheral_records.h"
#include "periphconfig/printhead_records.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;

std::shared_ptr<DeviceConfig> Build(const std::string& json) {
    return CreateDeviceConfig(fwtest::ParseJson(json));
}

template <typename Record>
std::shared_ptr<Record> BuildAs(const std::string& json) {
    const std::shared_ptr<DeviceConfig> record = Build(json);
    if (!record || typeid(*record) != typeid(Record)) {
        ADD_FAILURE() << "no " << typeid(Record).name() << " from " << json;
        return nullptr;
    }
    return std::static_pointer_cast<Record>(record);
}

const char kGpio[] = "\"direction\":\"Output\",\"level\":\"High\"";

TEST(NestedRecords, ExpanderDeviceIsAnI2CDeviceWhateverItsClass) {
    TempDevice device;
    for (const char* cls : {"I2CDevice", "SpiDevice", "Gpio", "NoSuchClass"}) {
        auto expander = BuildAs<IoExpanderConfig>(
            std::string("{\"name\":\"x\",\"class\":\"Tca6424IoExpander\",\"device\":{\"name\":"
                        "\"bus\",\"class\":\"") +
            cls + "\",\"masterBus\":\"I2C1\",\"address\":496,\"addressMode\":\"TenBit\"}}");
        ASSERT_TRUE(expander) << cls;
        EXPECT_EQ(expander->deviceClass, kDeviceClassTca6424IoExpander);
        ASSERT_TRUE(expander->device) << cls;
        EXPECT_TRUE(typeid(*expander->device) == typeid(I2CDeviceConfig)) << cls;
        EXPECT_EQ(expander->device->deviceClass, ParseDeviceClass(cls));
        EXPECT_EQ(expander->device->masterBus, "I2C1");
        EXPECT_EQ(expander->device->address, 496);
        EXPECT_EQ(expander->device->addressMode, kI2CTenBit);
        EXPECT_FALSE(expander->intPin);
    }
    // Its I2C members are required: without them the nested record is null.
    auto expander = BuildAs<IoExpanderConfig>(
        "{\"name\":\"x\",\"class\":\"IoExpander\",\"device\":{\"name\":\"bus\",\"class\":"
        "\"SpiDevice\",\"spiModule\":1}}");
    ASSERT_TRUE(expander);
    EXPECT_EQ(expander->deviceClass, kDeviceClassIoExpander);
    EXPECT_FALSE(expander->device);
}

TEST(NestedRecords, GpioMembersAreAm335xOnlyWhenTheirClassSaysSo) {
    TempDevice device;
    struct Case {
        const char* cls;
        bool am335x;
    };
    for (const Case& c : {Case{"Am335xGpio", true}, Case{"Gpio", false},
                          Case{"Tca6424IoExpanderPin", false}, Case{"Bogus", false}}) {
        const std::string gpio = std::string("{\"name\":\"g\",\"class\":\"") + c.cls + "\"," +
                                 kGpio + ",\"pinNumber\":\"1_17\",\"pinPullType\":\"PullUp\"}";
        auto expander = BuildAs<IoExpanderConfig>(
            "{\"name\":\"x\",\"class\":\"Pca9505IoExpander\",\"intPin\":" + gpio + "}");
        auto sensor = BuildAs<DigitalEdgeSensorConfig>(
            "{\"name\":\"s\",\"class\":\"DigitalEdgeSensor\",\"gpio\":" + gpio + "}");
        ASSERT_TRUE(expander && sensor) << c.cls;
        for (const std::shared_ptr<GpioConfig>& pin : {expander->intPin, sensor->gpio}) {
            ASSERT_TRUE(pin) << c.cls;
            EXPECT_EQ(pin->direction, 1);
            EXPECT_EQ(pin->level, 1);
            if (c.am335x) {
                ASSERT_TRUE(typeid(*pin) == typeid(Am335xGpioConfig));
                EXPECT_EQ(static_cast<const Am335xGpioConfig&>(*pin).pinNumber, 49);
            } else {
                EXPECT_TRUE(typeid(*pin) == typeid(GpioConfig)) << c.cls;
            }
        }
    }
}

TEST(NestedRecords, AnalogSensorAdcIsAnAdcWhateverItsClass) {
    TempDevice device;
    auto sensor = BuildAs<AnalogEdgeSensorConfig>(
        "{\"name\":\"s\",\"class\":\"AnalogEdgeSensor\",\"adc\":{\"name\":\"a\",\"class\":\"Gpio\","
        "\"channel\":\"Ain5\",\"numSamplesToAverage\":\"EightSamples\"}}");
    ASSERT_TRUE(sensor);
    ASSERT_TRUE(sensor->adc);
    EXPECT_TRUE(typeid(*sensor->adc) == typeid(Am335xAdcConfig));
    EXPECT_EQ(sensor->adc->deviceClass, kDeviceClassGpio);
    EXPECT_EQ(sensor->adc->channel, kAin5);
    EXPECT_EQ(sensor->adc->numSamplesToAverage, kAdcEightSamples);
    sensor = BuildAs<AnalogEdgeSensorConfig>("{\"name\":\"s\",\"class\":\"AnalogEdgeSensor\"}");
    ASSERT_TRUE(sensor);
    EXPECT_FALSE(sensor->adc);
}

TEST(NestedRecords, DeviceListsKeepNullEntries) {
    TempDevice device;
    const std::string strobe = std::string("{\"name\":\"st\",\"class\":\"Gpio\",") + kGpio + "}";
    auto head = BuildAs<Rohm_KF3002_GD31C_PrintheadConfig>(
        "{\"name\":\"h\",\"class\":\"Rohm_KF3002_GD31C_Printhead\",\"adcChannel\":\"Ain2\","
        "\"latch\":" +
        strobe + ",\"strobes\":[" + strobe + ",{\"name\":\"u\",\"class\":\"NoSuchThing\"}," +
        strobe + "," + strobe + "],\"data\":{\"name\":\"d\",\"class\":\"IoExpanderPin\"}}");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->adcChannel, kAin2);
    EXPECT_FALSE(head->powerEnable);
    ASSERT_TRUE(head->latch);
    EXPECT_EQ(head->latch->deviceClass, kDeviceClassGpio);
    EXPECT_FALSE(head->strobeEnable);
    ASSERT_EQ(head->strobes.size(), 4u);
    EXPECT_TRUE(head->strobes[0] && head->strobes[2] && head->strobes[3]);
    EXPECT_FALSE(head->strobes[1]);
    EXPECT_FALSE(head->data);  // a class without a record type

    auto slg = BuildAs<Slg46533IoExpanderConfig>(
        "{\"name\":\"x\",\"class\":\"Slg46533IoExpander\",\"ioPoints\":[{\"name\":\"p\",\"class\":"
        "\"Slg46533IoExpanderPin\"," +
        std::string(kGpio) + ",\"ioNumber\":3},7,{}]}");
    ASSERT_TRUE(slg);
    ASSERT_EQ(slg->ioPoints.size(), 3u);
    ASSERT_TRUE(slg->ioPoints[0]);
    EXPECT_EQ(static_cast<const Slg46533IoExpanderPinConfig&>(*slg->ioPoints[0]).ioNumber, 3);
    EXPECT_FALSE(slg->ioPoints[1]);
    EXPECT_FALSE(slg->ioPoints[2]);
}

// Device objects nest at most 16 levels; deeper ones are not built, so a deep
// document never exhausts the stack.
TEST(NestedRecords, NestingIsBoundedToSixteenDeviceLevels) {
    TempDevice device;
    // levels printheads, each the "data" of the one around it, around a GPIO.
    auto chain = [](int levels) {
        std::string json = std::string("{\"name\":\"leaf\",\"class\":\"Gpio\",") + kGpio + "}";
        for (int i = 0; i < levels; ++i)
            json = "{\"name\":\"h" + std::to_string(i) +
                   "\",\"class\":\"ThermalPrinthead\",\"data\":" + json + "}";
        return json;
    };
    // The leaf at level 16 (15 printheads around it) is built.
    std::shared_ptr<DeviceConfig> record = Build(chain(15));
    int depth = 1;
    while (record && record->deviceClass == kDeviceClassThermalPrinthead) {
        record = static_cast<const ThermalPrintheadConfig&>(*record).data;
        ++depth;
    }
    ASSERT_TRUE(record);
    EXPECT_EQ(record->name, "leaf");
    EXPECT_EQ(depth, 16);

    // One level more: the leaf stays null, the printheads are built.
    record = Build(chain(16));
    depth = 1;
    while (record && record->deviceClass == kDeviceClassThermalPrinthead) {
        record = static_cast<const ThermalPrintheadConfig&>(*record).data;
        ++depth;
    }
    EXPECT_FALSE(record);
    EXPECT_EQ(depth, 17);

    // Typed members count as levels too.
    rapidjson::Document document;
    const std::string sensor =
        "{\"name\":\"s\",\"class\":\"AnalogEdgeSensor\",\"adc\":{\"name\":\"a\",\"class\":"
        "\"Am335xAdc\"}}";
    document.Parse(sensor.c_str());
    auto deep = std::static_pointer_cast<AnalogEdgeSensorConfig>(
        CreateDeviceConfig(document, DeviceConfig::kMaxNesting - 1));
    ASSERT_TRUE(deep);
    EXPECT_FALSE(deep->adc);
    EXPECT_FALSE(CreateDeviceConfig(document, DeviceConfig::kMaxNesting));
    EXPECT_FALSE(CreateDeviceConfig(document, -1));
}

std::string FpgaJson(const std::string& spi, const std::string& gpio) {
    return "{\"name\":\"FPGA-HARDWARE-CONFIG\",\"class\":\"FpgaHardwareConfig\"" +
           (spi.empty() ? "" : ",\"spiMaster\":" + spi) +
           (gpio.empty() ? "" : ",\"gpioChipSelect\":" + gpio) + "}";
}

std::string SpiJson(const std::string& cls, int mode, int64_t frequency) {
    return "{\"name\":\"spi\",\"class\":\"" + cls +
           "\",\"spiModule\":1,\"transferMode\":\"TransmitAndReceive\",\"chipSelect\":2,"
           "\"chipSelectPolarity\":\"ActiveLow\",\"clockMode\":" +
           std::to_string(mode) + ",\"clkFrequency\":" + std::to_string(frequency) +
           ",\"wordLength\":16,\"module\":3,\"pinMux\":\"SPI0_clK_d0\"}";
}

std::string GpioJson(const std::string& cls) {
    return "{\"name\":\"cs\",\"class\":\"" + cls + "\"," + kGpio +
           ",\"pinNumber\":\"1_17\",\"pinPullType\":\"PullUp\",\"expanderName\":\"x\"}";
}

TEST(FpgaHardwareConfig, ClockModesGiveTheirPolarityAndPhase) {
    TempDevice device;
    struct Case {
        int mode;
        bool polarity;
        bool phase;
    };
    const Case cases[] = {{0, false, false}, {1, false, true},    {2, true, false}, {3, true, true},
                          {4, false, false}, {255, false, false}, {259, true, true}};
    for (const Case& c : cases) {
        auto fpga = BuildAs<FpgaHardwareConfig>(
            FpgaJson(SpiJson("SpiDevice", c.mode, 1000000), GpioJson("Am335xGpio")));
        ASSERT_TRUE(fpga);
        EXPECT_EQ(fpga->GetClockPolarity(), c.polarity) << c.mode;
        EXPECT_EQ(fpga->GetClockPhase(), c.phase) << c.mode;
    }
}

TEST(FpgaHardwareConfig, DividerOfTheReferenceClock) {
    TempDevice device;
    struct Case {
        int64_t frequency;
        uint32_t divider;
    };
    const Case cases[] = {{0, 1},        {1000000, 48}, {16000000, 3}, {20000000, 2},
                          {24000000, 2}, {7000000, 6},  {12000000, 4}, {48000000, 1},
                          {48000001, 0}, {1, 48000000}, {-1, 0},       {4294967296, 1}};
    for (const Case& c : cases) {
        auto fpga = BuildAs<FpgaHardwareConfig>(
            FpgaJson(SpiJson("SpiDevice", 0, c.frequency), GpioJson("Am335xGpio")));
        ASSERT_TRUE(fpga);
        EXPECT_EQ(fpga->GetClockDivider(), c.divider) << c.frequency;
    }
}

TEST(FpgaHardwareConfig, AccessorsReadTheSpiDeviceAndTheChipSelectPin) {
    TempDevice device;
    auto fpga = BuildAs<FpgaHardwareConfig>(
        FpgaJson(SpiJson("SpiDevice", 3, 12000000), GpioJson("Am335xGpio")));
    ASSERT_TRUE(fpga);
    EXPECT_TRUE(fpga->IsComplete());
    EXPECT_EQ(fpga->GetSpiModule(), 1);
    EXPECT_EQ(fpga->GetChipSelect(), 2);
    EXPECT_EQ(fpga->GetWordLength(), 16);
    EXPECT_EQ(fpga->GetClockDivider(), 4u);
    EXPECT_TRUE(fpga->GetClockPolarity());
    EXPECT_TRUE(fpga->GetClockPhase());
    EXPECT_EQ(fpga->GetChipSelectPin(), 49);
    EXPECT_EQ(FpgaHardwareConfig::FromRecord(fpga), fpga);
}

// The accessors look at the class of what they read: a member of another class
// answers as absent, and the configuration as a whole counts as absent.
TEST(FpgaHardwareConfig, MembersOfAnotherClassCountAsAbsent) {
    TempDevice device;
    struct Case {
        const char* what;
        std::string spi;
        std::string gpio;
        bool spiUsable;
        bool gpioUsable;
    };
    const std::vector<Case> cases = {
        {"no spiMaster", "", GpioJson("Am335xGpio"), false, true},
        {"no gpioChipSelect", SpiJson("SpiDevice", 1, 1000000), "", true, false},
        {"spiMaster of an unknown class", SpiJson("Spi", 1, 1000000), GpioJson("Am335xGpio"), false,
         true},
        {"spiMaster an Am335xSpiBus", SpiJson("Am335xSpiBus", 1, 1000000), GpioJson("Am335xGpio"),
         false, true},
        {"gpioChipSelect a plain Gpio", SpiJson("SpiDevice", 1, 1000000), GpioJson("Gpio"), true,
         false},
        {"gpioChipSelect an expander pin", SpiJson("SpiDevice", 1, 1000000),
         GpioJson("Tca6424IoExpanderPin"), true, false},
    };
    for (const Case& c : cases) {
        auto fpga = BuildAs<FpgaHardwareConfig>(FpgaJson(c.spi, c.gpio));
        ASSERT_TRUE(fpga) << c.what;
        EXPECT_FALSE(fpga->IsComplete()) << c.what;
        EXPECT_FALSE(FpgaHardwareConfig::FromRecord(fpga)) << c.what;
        EXPECT_EQ(fpga->SpiDevice() != nullptr, c.spiUsable) << c.what;
        EXPECT_EQ(fpga->ChipSelectGpio() != nullptr, c.gpioUsable) << c.what;
        if (!c.spiUsable) {
            EXPECT_EQ(fpga->GetSpiModule(), 0) << c.what;
            EXPECT_EQ(fpga->GetChipSelect(), 0) << c.what;
            EXPECT_EQ(fpga->GetWordLength(), 0) << c.what;
            EXPECT_EQ(fpga->GetClockDivider(), 1u) << c.what;
            EXPECT_FALSE(fpga->GetClockPolarity() || fpga->GetClockPhase()) << c.what;
        } else {
            EXPECT_EQ(fpga->GetSpiModule(), 1) << c.what;
        }
        EXPECT_EQ(fpga->GetChipSelectPin(), c.gpioUsable ? 49 : -1) << c.what;
    }
    // A record of another class is never taken for the FPGA configuration.
    EXPECT_FALSE(FpgaHardwareConfig::FromRecord(Build(GpioJson("Am335xGpio"))));
    EXPECT_FALSE(FpgaHardwareConfig::FromRecord(nullptr));
}

}  // namespace
