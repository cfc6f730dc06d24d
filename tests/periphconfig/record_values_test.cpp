// The values records read: integer widths, flags, texts compared with a word,
// pull types, tables with their own fallback, pairs, lists and the members
// read only under a condition.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "periph_test_util.h"
#include "periphconfig/bus_records.h"
#include "periphconfig/peripheral_records.h"
#include "periphconfig/printhead_records.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;

// The record built from a device object's text; the test fails without one.
template <typename Record>
std::shared_ptr<Record> Build(const std::string& json) {
    const rapidjson::Document document = fwtest::ParseJson(json);
    const std::shared_ptr<DeviceConfig> record = CreateDeviceConfig(document);
    if (!record) {
        ADD_FAILURE() << "no record for " << json;
        return nullptr;
    }
    if (typeid(*record) != typeid(Record)) {
        ADD_FAILURE() << json << " built a " << typeid(*record).name();
        return nullptr;
    }
    return std::static_pointer_cast<Record>(record);
}

// One member's value on a device object of class cls, and the field it gives.
struct ValueCase {
    std::string cls;
    std::string rest;  // the other members, each followed by a comma
    std::string member;
    std::string value;
    int64_t expected;
    std::function<int64_t(const DeviceConfig&)> field;
};

template <typename Record, typename Field>
std::function<int64_t(const DeviceConfig&)> FieldOf(Field Record::*field) {
    return [field](const DeviceConfig& record) {
        return static_cast<int64_t>(static_cast<const Record&>(record).*field);
    };
}

TEST(RecordValues, MembersReadByTheirKind) {
    TempDevice device;
    const std::string spi =
        "\"transferMode\":\"TransmitAndReceive\",\"chipSelectPolarity\":\"ActiveLow\",";
    const std::string gpio = "\"direction\":\"Input\",\"level\":\"Low\",";
    const std::string slg = "\"direction\":\"Input\",\"level\":\"Low\",";
    const std::vector<ValueCase> cases = {
        // uint8 keeps the low 8 bits, uint16 the low 16, int the low 32.
        {"SpiDevice", spi, "spiModule", "300", 44, FieldOf(&SpiDeviceConfig::spiModule)},
        {"SpiDevice", spi, "spiModule", "256", 0, FieldOf(&SpiDeviceConfig::spiModule)},
        {"SpiDevice", spi, "spiModule", "-1", 255, FieldOf(&SpiDeviceConfig::spiModule)},
        {"SpiDevice", spi, "chipSelect", "4294967297", 1, FieldOf(&SpiDeviceConfig::chipSelect)},
        {"SpiDevice", spi, "clockMode", "259", 3, FieldOf(&SpiDeviceConfig::clockMode)},
        {"SpiDevice", spi, "clkFrequency", "2147483648", INT32_MIN,
         FieldOf(&SpiDeviceConfig::clkFrequency)},
        {"SpiDevice", spi, "clkFrequency", "4294967340", 44,
         FieldOf(&SpiDeviceConfig::clkFrequency)},
        {"SpiDevice", spi, "clkFrequency", "-5", -5, FieldOf(&SpiDeviceConfig::clkFrequency)},
        {"I2CDevice", "\"masterBus\":\"I2C0\",\"addressMode\":\"TenBit\",", "address", "496", 496,
         FieldOf(&I2CDeviceConfig::address)},
        {"I2CDevice", "\"masterBus\":\"I2C0\",\"addressMode\":\"TenBit\",", "address", "65537", 1,
         FieldOf(&I2CDeviceConfig::address)},
        {"Slg46533IoExpanderPin", slg, "address", "300", 44,
         FieldOf(&Slg46533IoExpanderPinConfig::address)},
        {"I2CMasterBus", "", "speed", "400000", 400000, FieldOf(&I2CMasterBusConfig::speed)},
        {"Am335xGeneralPurposeTimer", "", "timerModule", "263", 7,
         FieldOf(&Am335xGeneralPurposeTimerConfig::timerModule)},
        // Names through tables; SpiChipSelectPolarity falls back to ActiveLow.
        {"SpiDevice", "\"transferMode\":\"TransmitAndReceive\",", "chipSelectPolarity",
         "\"ActiveHigh\"", 1, FieldOf(&SpiDeviceConfig::chipSelectPolarity)},
        {"SpiDevice", "\"transferMode\":\"TransmitAndReceive\",", "chipSelectPolarity",
         "\"activehigh\"", 0, FieldOf(&SpiDeviceConfig::chipSelectPolarity)},
        {"SpiDevice", "\"chipSelectPolarity\":\"ActiveHigh\",", "transferMode",
         "\"TransmitToDeviceOnly\"", 2, FieldOf(&SpiDeviceConfig::transferMode)},
        {"I2CDevice", "\"masterBus\":\"I2C0\",", "addressMode", "\"TenBit\"", 1,
         FieldOf(&I2CDeviceConfig::addressMode)},
        // Texts compared with one word.
        {"Gpio", "\"level\":\"Low\",", "direction", "\"Output\"", 1,
         FieldOf(&GpioConfig::direction)},
        {"Gpio", "\"level\":\"Low\",", "direction", "\"output\"", 0,
         FieldOf(&GpioConfig::direction)},
        {"Gpio", "\"level\":\"Low\",", "direction", "\"Input\"", 0,
         FieldOf(&GpioConfig::direction)},
        {"Gpio", "\"direction\":\"Input\",", "level", "\"High\"", 1, FieldOf(&GpioConfig::level)},
        {"Gpio", "\"direction\":\"Input\",", "level", "\"HIGH\"", 0, FieldOf(&GpioConfig::level)},
        {"Am335xGeneralPurposeIoTimer", "\"pinMux\":\"timer5_mux1\",\"pinPullType\":\"None\",",
         "level", "\"High\"", 1, FieldOf(&Am335xGeneralPurposeIoTimerConfig::level)},
        // Flags: only JSON true.
        {"Gpio", gpio, "invertLogic", "true", 1, FieldOf(&GpioConfig::invertLogic)},
        {"Gpio", gpio, "invertLogic", "\"true\"", 0, FieldOf(&GpioConfig::invertLogic)},
        {"Gpio", gpio, "invertLogic", "1", 0, FieldOf(&GpioConfig::invertLogic)},
        {"FpgaComm", "\"fapiVersion\":\"1\",", "parallelDataTransfer", "true", 1,
         FieldOf(&FpgaCommConfig::parallelDataTransfer)},
        {"FpgaComm", "\"fapiVersion\":\"1\",", "parallelDataTransfer", "\"yes\"", 0,
         FieldOf(&FpgaCommConfig::parallelDataTransfer)},
        {"FpgaComm", "\"fapiVersion\":\"1\",", "parallelDataTransfer", "1", 0,
         FieldOf(&FpgaCommConfig::parallelDataTransfer)},
        // The pull-type rule.
        {"Am335xGpio", gpio + "\"pinNumber\":\"0_1\",", "pinPullType", "\"PullDown\"", 2,
         FieldOf(&Am335xGpioConfig::pinPullType)},
        {"Am335xGpio", gpio + "\"pinNumber\":\"0_1\",", "pinPullType", "\"PullUp\"", 1,
         FieldOf(&Am335xGpioConfig::pinPullType)},
        {"Am335xGpio", gpio + "\"pinNumber\":\"0_1\",", "pinPullType", "\"None\"", 0,
         FieldOf(&Am335xGpioConfig::pinPullType)},
        {"Am335xGpio", gpio + "\"pinNumber\":\"0_1\",", "pinPullType", "\"\"", 0,
         FieldOf(&Am335xGpioConfig::pinPullType)},
        {"Am335xGpio", gpio + "\"pinPullType\":\"None\",", "pinNumber", "\"2_5\"", 69,
         FieldOf(&Am335xGpioConfig::pinNumber)},
        {"Am335xGpio", gpio + "\"pinPullType\":\"None\",", "pinNumber", "\"4_0\"", 0,
         FieldOf(&Am335xGpioConfig::pinNumber)},
        {"Pca9505IoExpanderPin", gpio + "\"expanderName\":\"x\",", "pinNumber", "\"4_7\"", 39,
         FieldOf(&Pca9505IoExpanderPinConfig::pinNumber)},
        {"Tca6424IoExpanderPin", gpio + "\"expanderName\":\"x\",", "pinNumber", "\"4_7\"", 0,
         FieldOf(&Tca6424IoExpanderPinConfig::pinNumber)},
        // The optional integer and flag of an expander pin.
        {"Slg46533IoExpanderPin", slg, "bitOffset", "300", 44,
         FieldOf(&Slg46533IoExpanderPinConfig::bitOffset)},
        {"Slg46533IoExpanderPin", slg, "bitOffset", "1.5", 0,
         FieldOf(&Slg46533IoExpanderPinConfig::bitOffset)},
        {"Slg46533IoExpanderPin", slg, "bitOffset", "\"3\"", 0,
         FieldOf(&Slg46533IoExpanderPinConfig::bitOffset)},
        {"Slg46533IoExpanderPin", slg, "interruptible", "0", 1,
         FieldOf(&Slg46533IoExpanderPinConfig::interruptible)},
        {"Slg46533IoExpanderPin", slg, "interruptible", "\"false\"", 1,
         FieldOf(&Slg46533IoExpanderPinConfig::interruptible)},
        {"Slg46533IoExpanderPin", slg, "interruptible", "false", 0,
         FieldOf(&Slg46533IoExpanderPinConfig::interruptible)},
        // A table with a fallback of its own, and pairs.
        {"Am335xPwm", "", "outputPin", "\"Ehrpwm0A_Mux1\"", 0,
         FieldOf(&Am335xPwmConfig::outputPin)},
        {"Am335xPwm", "", "outputPin", "\"Ehrpwm2B_Mux0\"", 11,
         FieldOf(&Am335xPwmConfig::outputPin)},
        {"Am335xPwm", "", "outputPin", "\"Ehrpwm9\"", 2, FieldOf(&Am335xPwmConfig::outputPin)},
        {"Am335xEcap", "", "outputPin", "\"Ecap1_Mux2\"", 3, FieldOf(&Am335xEcapConfig::pinMux)},
        {"Am335xEcap", "", "outputPin", "\"Ecap1_Mux2\"", 1, FieldOf(&Am335xEcapConfig::module)},
        {"Am335xEcap", "", "outputPin", "\"Ecap3\"", 0, FieldOf(&Am335xEcapConfig::module)},
        {"Am335xEqep", "\"pinPullType\":\"None\",", "pinMux", "\"Eqep2_Mux0\"", 2,
         FieldOf(&Am335xEqepConfig::module)},
        {"Am335xEqep", "\"pinPullType\":\"None\",", "pinMux", "\"Eqep2_Mux0\"", 4,
         FieldOf(&Am335xEqepConfig::pinMux)},
        {"Am335xEqep", "\"pinPullType\":\"None\",\"countsPerRev\":1,", "pinMux", "\"Eqep1_Mux1\"",
         0, FieldOf(&Am335xEqepConfig::countsPerInt)},
        {"Am335xGeneralPurposeIoTimer", "\"level\":\"Low\",\"pinPullType\":\"None\",", "pinMux",
         "\"timer6_mux2\"", 10, FieldOf(&Am335xGeneralPurposeIoTimerConfig::pinMux)},
        {"Rohm_KF3002_GD31C_Printhead", "", "adcChannel", "\"Ain8\"", 0,
         FieldOf(&Rohm_KF3002_GD31C_PrintheadConfig::adcChannel)},
        {"FpgaAcceleratedPrinthead", "", "adcChannel", "\"Ain6\"", 6,
         FieldOf(&FpgaAcceleratedPrintheadConfig::adcChannel)},
        // A derived record reads its base's members.
        {"Am335xSpiBus", "\"pinMux\":\"SPI1_clk_data_mux2_cs0_cs1_mux3\",", "module", "2", 2,
         FieldOf(&SpiMasterBusConfig::module)},
        {"Am335xSpiBus", "\"module\":1,", "pinMux", "\"SPI0_clK_d0\"", 0,
         FieldOf(&Am335xSpiBusConfig::pinMux)},
        {"Am335xSpiBus", "\"module\":1,", "pinMux", "\"SPI1_clk_data_mux2_cs0_cs1_mux3\"", 16,
         FieldOf(&Am335xSpiBusConfig::pinMux)},
        {"Am335xI2CBus", "\"channel\":2,", "pinMux", "\"I2C2_mux1\"", 6,
         FieldOf(&Am335xI2CBusConfig::pinMux)},
        {"Am335xI2CBus", "\"pinMux\":\"I2C0\",", "channel", "2", 2,
         FieldOf(&I2CMasterBusConfig::channel)},
    };
    for (const ValueCase& c : cases) {
        const std::string json = "{\"name\":\"d\",\"class\":\"" + c.cls + "\"," + c.rest + "\"" +
                                 c.member + "\":" + c.value + "}";
        const rapidjson::Document document = fwtest::ParseJson(json);
        const std::shared_ptr<DeviceConfig> record = CreateDeviceConfig(document);
        ASSERT_TRUE(record) << json;
        EXPECT_EQ(c.field(*record), c.expected) << json;
    }
}

TEST(RecordValues, AbsentIntegersAndFlagsAreZeroAndFalse) {
    TempDevice device;
    auto spi = Build<SpiDeviceConfig>(
        "{\"name\":\"s\",\"class\":\"SpiDevice\",\"transferMode\":\"x\",\"chipSelectPolarity\":"
        "\"x\"}");
    ASSERT_TRUE(spi);
    EXPECT_EQ(spi->spiModule, 0);
    EXPECT_EQ(spi->chipSelect, 0);
    EXPECT_EQ(spi->clockMode, 0);
    EXPECT_EQ(spi->clkFrequency, 0);
    EXPECT_EQ(spi->wordLength, 0);
    EXPECT_EQ(spi->transferMode, kSpiTransmitAndReceive);
    EXPECT_FALSE(spi->hasWriteMode);

    auto pin = Build<Slg46533IoExpanderPinConfig>(
        "{\"name\":\"p\",\"class\":\"Slg46533IoExpanderPin\",\"direction\":\"Output\",\"level\":"
        "\"High\"}");
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->direction, 1);
    EXPECT_EQ(pin->level, 1);
    EXPECT_FALSE(pin->invertLogic);
    EXPECT_EQ(pin->ioNumber, 0);
    EXPECT_EQ(pin->bitOffset, 0);
    EXPECT_TRUE(pin->interruptible);
}

TEST(RecordValues, OptionalNamesAreReadOnlyWhenPresent) {
    TempDevice device;
    auto spi = Build<SpiDeviceConfig>(
        "{\"name\":\"s\",\"class\":\"SpiDevice\",\"transferMode\":\"x\",\"chipSelectPolarity\":"
        "\"x\",\"writeMode\":\"DmaWrite\"}");
    ASSERT_TRUE(spi);
    EXPECT_TRUE(spi->hasWriteMode);
    EXPECT_EQ(spi->writeMode, kSpiDmaWrite);

    auto pwm =
        Build<Am335xPwmConfig>("{\"name\":\"p\",\"class\":\"Am335xPwm\",\"outputPin\":\"x\"}");
    ASSERT_TRUE(pwm);
    EXPECT_FALSE(pwm->hasEventTrigger);
    pwm = Build<Am335xPwmConfig>(
        "{\"name\":\"p\",\"class\":\"Am335xPwm\",\"outputPin\":\"x\",\"eventTrigger\":"
        "\"CompareBDown\"}");
    ASSERT_TRUE(pwm);
    EXPECT_TRUE(pwm->hasEventTrigger);
    EXPECT_EQ(pwm->eventTrigger, kPwmTriggerCompareBDown);
    EXPECT_EQ(pwm->outputPin, 2);

    auto adc = Build<Am335xAdcConfig>(
        "{\"name\":\"a\",\"class\":\"Am335xAdc\",\"channel\":\"Ain7\",\"numSamplesToAverage\":"
        "\"SixteenSamples\"}");
    ASSERT_TRUE(adc);
    EXPECT_TRUE(adc->hasChannel);
    EXPECT_EQ(adc->channel, kAin7);
    EXPECT_EQ(adc->numSamplesToAverage, kAdcSixteenSamples);
    adc = Build<Am335xAdcConfig>(
        "{\"name\":\"a\",\"class\":\"Am335xAdc\",\"numSamplesToAverage\":\"SixteenSamples\"}");
    ASSERT_TRUE(adc);
    EXPECT_FALSE(adc->hasChannel);
    EXPECT_EQ(adc->numSamplesToAverage, kAdcNoAverage);
    // With a channel the averaging is required.
    EXPECT_FALSE(CreateDeviceConfig(
        fwtest::ParseJson("{\"name\":\"a\",\"class\":\"Am335xAdc\",\"channel\":\"Ain1\"}")));
}

TEST(RecordValues, ListsKeepTheirOrder) {
    TempDevice device;
    auto qep = Build<Am335xEqepConfig>(
        "{\"name\":\"q\",\"class\":\"Am335xEqep\",\"pinMux\":\"Eqep0_Mux1\",\"pinPullType\":"
        "\"PullUp\",\"enabledInputs\":[\"Input_I\",\"Input_A\",\"Input_X\",\"Input_S\"]}");
    ASSERT_TRUE(qep);
    EXPECT_EQ(qep->enabledInputs, (std::vector<int32_t>{2, 0, 0, 3}));
    EXPECT_EQ(qep->module, 0);
    EXPECT_EQ(qep->pinMux, 1);
    EXPECT_EQ(qep->pinPullType, kPullUp);
    qep = Build<Am335xEqepConfig>(
        "{\"name\":\"q\",\"class\":\"Am335xEqep\",\"pinMux\":\"x\",\"pinPullType\":\"x\"}");
    ASSERT_TRUE(qep);
    EXPECT_TRUE(qep->enabledInputs.empty());

    auto gpmc =
        Build<GpmcBusConfig>("{\"name\":\"g\",\"class\":\"GpmcBus\",\"pinMux\":\"Gpmc_Mux0\"}");
    ASSERT_TRUE(gpmc);
    EXPECT_TRUE(gpmc->busPins.empty());
    EXPECT_TRUE(gpmc->busPinPullTypes.empty());
    gpmc = Build<GpmcBusConfig>(
        "{\"name\":\"g\",\"class\":\"GpmcBus\",\"chipSelect\":258,\"pinMux\":\"Gpmc_Mux0\","
        "\"busPins\":[{\"name\":\"GPMC_CLK\",\"pullType\":\"PullDown\"},{\"name\":\"GPMC_AD_9\","
        "\"pullType\":\"None\"},{\"name\":\"gpmc_clk\",\"pullType\":\"PullUp\"}]}");
    ASSERT_TRUE(gpmc);
    EXPECT_EQ(gpmc->chipSelect, 2);
    EXPECT_EQ(gpmc->busPins, (std::vector<int32_t>{16, 1, 0}));
    EXPECT_EQ(gpmc->busPinPullTypes, (std::vector<PinPullType>{kPullDown, kPullNone, kPullUp}));
    // A pin entry without its "pullType" makes the bus malformed.
    EXPECT_FALSE(CreateDeviceConfig(fwtest::ParseJson(
        "{\"name\":\"g\",\"class\":\"GpmcBus\",\"pinMux\":\"Gpmc_Mux0\",\"busPins\":[{\"name\":"
        "\"GPMC_CLK\"}]}")));
}

}  // namespace
