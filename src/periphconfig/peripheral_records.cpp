#include "periphconfig/peripheral_records.h"

#include <sstream>

namespace {

#define ROWS_OF(rows) rows, sizeof(rows) / sizeof(rows[0])

const NameTable::Row kAdcChannelRows[] = {
    {"Ain0", kAin0}, {"Ain1", kAin1}, {"Ain2", kAin2}, {"Ain3", kAin3},
    {"Ain4", kAin4}, {"Ain5", kAin5}, {"Ain6", kAin6}, {"Ain7", kAin7},
};

const NameTable::Row kAdcAveragingRows[] = {
    {"NoAverage", kAdcNoAverage},           {"TwoSamples", kAdcTwoSamples},
    {"FourSamples", kAdcFourSamples},       {"EightSamples", kAdcEightSamples},
    {"SixteenSamples", kAdcSixteenSamples},
};

const NameTable::Row kPwmEventTriggerRows[] = {
    {"Zero", kPwmTriggerZero},
    {"Period", kPwmTriggerPeriod},
    {"CompareAUp", kPwmTriggerCompareAUp},
    {"CompareADown", kPwmTriggerCompareADown},
    {"CompareBUp", kPwmTriggerCompareBUp},
    {"CompareBDown", kPwmTriggerCompareBDown},
};

const NameTable::Row kEqepInputRows[] = {
    {"Input_A", 0},
    {"Input_B", 1},
    {"Input_I", 2},
    {"Input_S", 3},
};

// Within each module the Mux1 names come before the Mux0 names.
const NameTable::Row kPwmOutputPinRows[] = {
    {"Ehrpwm0A_Mux1", 0}, {"Ehrpwm0B_Mux1", 1}, {"Ehrpwm0A_Mux0", 2},  {"Ehrpwm0B_Mux0", 3},
    {"Ehrpwm1A_Mux1", 4}, {"Ehrpwm1B_Mux1", 5}, {"Ehrpwm1A_Mux0", 6},  {"Ehrpwm1B_Mux0", 7},
    {"Ehrpwm2A_Mux1", 8}, {"Ehrpwm2B_Mux1", 9}, {"Ehrpwm2A_Mux0", 10}, {"Ehrpwm2B_Mux0", 11},
};
// A name the table lacks: the value of "Ehrpwm0A_Mux0".
const int32_t kPwmOutputPinFallback = 2;

// A name standing for a pair (module, pin-mux value); the pin-mux value runs
// over the whole table.
struct PairRow {
    const char* name;
    int32_t module;
    int32_t pinMux;
};

const PairRow kEcapRows[] = {
    {"Ecap0", 0, 0},      {"Ecap1_Mux0", 1, 1}, {"Ecap1_Mux1", 1, 2}, {"Ecap1_Mux2", 1, 3},
    {"Ecap2_Mux0", 2, 4}, {"Ecap2_Mux1", 2, 5}, {"Ecap2_Mux2", 2, 6},
};

const PairRow kEqepRows[] = {
    {"Eqep0_Mux0", 0, 0}, {"Eqep0_Mux1", 0, 1}, {"Eqep1_Mux0", 1, 2},
    {"Eqep1_Mux1", 1, 3}, {"Eqep2_Mux0", 2, 4}, {"Eqep2_Mux1", 2, 5},
};

// One half of a pair table: the modules, or the pin-mux values.
NameTable::Rows PairHalf(const PairRow* rows, size_t count, bool modules) {
    NameTable::Rows half;
    for (size_t i = 0; i < count; ++i)
        half.push_back(
            std::make_pair(std::string(rows[i].name), modules ? rows[i].module : rows[i].pinMux));
    return half;
}

// "timer4_mux0" .. "timer7_mux3".
NameTable::Rows TimerPinMuxRows() {
    NameTable::Rows rows;
    for (int timer = 4; timer <= 7; ++timer) {
        for (int mux = 0; mux <= 3; ++mux) {
            std::ostringstream name;
            name << "timer" << timer << "_mux" << mux;
            rows.push_back(std::make_pair(name.str(), (timer - 4) * 4 + mux));
        }
    }
    return rows;
}

}  // namespace

namespace DeviceNames {

const NameTable& AdcChannels() {
    static const NameTable table(ROWS_OF(kAdcChannelRows));
    return table;
}

const NameTable& AdcAveragings() {
    static const NameTable table(ROWS_OF(kAdcAveragingRows));
    return table;
}

const NameTable& PwmEventTriggers() {
    static const NameTable table(ROWS_OF(kPwmEventTriggerRows));
    return table;
}

const NameTable& EqepInputs() {
    static const NameTable table(ROWS_OF(kEqepInputRows));
    return table;
}

const NameTable& TimerPinMux() {
    static const NameTable table(TimerPinMuxRows());
    return table;
}

const NameTable& PwmOutputPins() {
    static const NameTable table(ROWS_OF(kPwmOutputPinRows), kPwmOutputPinFallback);
    return table;
}

const NameTable& EcapModules() {
    static const NameTable table(PairHalf(ROWS_OF(kEcapRows), true));
    return table;
}

const NameTable& EcapPinMux() {
    static const NameTable table(PairHalf(ROWS_OF(kEcapRows), false));
    return table;
}

const NameTable& EqepModules() {
    static const NameTable table(PairHalf(ROWS_OF(kEqepRows), true));
    return table;
}

const NameTable& EqepPinMux() {
    static const NameTable table(PairHalf(ROWS_OF(kEqepRows), false));
    return table;
}

}  // namespace DeviceNames

Am335xGeneralPurposeTimerConfig::Am335xGeneralPurposeTimerConfig(const rapidjson::Value& object,
                                                                 int nesting)
    : DeviceConfig(object, nesting), timerModule(ReadUint8(object, "timerModule")) {}

Am335xGeneralPurposeIoTimerConfig::Am335xGeneralPurposeIoTimerConfig(const rapidjson::Value& object,
                                                                     int nesting)
    : Am335xGeneralPurposeTimerConfig(object, nesting),
      pinMux(ReadName(object, "pinMux", DeviceNames::TimerPinMux())),
      level(ReadTextIs(object, "level", "High")),
      pinPullType(
          static_cast<PinPullType>(ReadName(object, "pinPullType", DeviceNames::PullTypes()))) {}

Am335xPwmConfig::Am335xPwmConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      outputPin(ReadName(object, "outputPin", DeviceNames::PwmOutputPins())),
      eventTrigger(static_cast<PwmEventTrigger>(
          ReadOptionalName(object, "eventTrigger", DeviceNames::PwmEventTriggers()))),
      hasEventTrigger(Has(object, "eventTrigger")) {}

Am335xEcapConfig::Am335xEcapConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      pinMux(ReadName(object, "outputPin", DeviceNames::EcapPinMux())),
      module(ReadName(object, "outputPin", DeviceNames::EcapModules())) {}

Am335xEqepConfig::Am335xEqepConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      module(ReadName(object, "pinMux", DeviceNames::EqepModules())),
      pinPullType(
          static_cast<PinPullType>(ReadName(object, "pinPullType", DeviceNames::PullTypes()))),
      countsPerInt(ReadInt(object, "countsPerInt")),
      countsPerRev(ReadInt(object, "countsPerRev")),
      pinMux(ReadName(object, "pinMux", DeviceNames::EqepPinMux())),
      enabledInputs(ReadInputs(object)) {}

std::vector<int32_t> Am335xEqepConfig::ReadInputs(const rapidjson::Value& object) {
    std::vector<int32_t> inputs;
    const rapidjson::Value* names = ReadArray(object, "enabledInputs");
    if (names == 0)
        return inputs;
    inputs.reserve(names->Size());
    for (rapidjson::Value::ConstValueIterator name = names->Begin(); name != names->End(); ++name) {
        if (!name->IsString()) {
            MarkMalformed();
            inputs.push_back(0);
            continue;
        }
        inputs.push_back(DeviceNames::EqepInputs().Lookup(
            std::string(name->GetString(), name->GetStringLength())));
    }
    return inputs;
}

Am335xAdcConfig::Am335xAdcConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      channel(static_cast<AdcChannel>(
          Has(object, "channel") ? ReadName(object, "channel", DeviceNames::AdcChannels()) : 0)),
      numSamplesToAverage(static_cast<AdcAveraging>(
          Has(object, "channel")
              ? ReadName(object, "numSamplesToAverage", DeviceNames::AdcAveragings())
              : 0)),
      hasChannel(Has(object, "channel")) {}

GenericInterruptConfig::GenericInterruptConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting), irqNumber(ReadInt(object, "irqNumber")) {}

namespace {

std::shared_ptr<Am335xAdcConfig> BuildAdc(const rapidjson::Value* object, int nesting) {
    if (object == 0)
        return std::shared_ptr<Am335xAdcConfig>();
    return DeviceConfig::Adopt(new Am335xAdcConfig(*object, nesting));
}

}  // namespace

AnalogEdgeSensorConfig::AnalogEdgeSensorConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting), adc(BuildAdc(ReadNestedObject(object, "adc"), nesting + 1)) {}

DigitalEdgeSensorConfig::DigitalEdgeSensorConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      gpio(CreateGpioRecord(ReadNestedObject(object, "gpio"), nesting + 1)) {}
