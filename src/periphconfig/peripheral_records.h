// Records of the processor's own peripheral units (general-purpose timers, PWM,
// capture and quadrature-encoder units, ADC), of interrupt lines, and of the two
// edge sensors built on an ADC channel or a GPIO line.
//
// Each record reads the members of its base first, then its own; the comment at
// each field gives the member and its kind (see device_config.h).
#ifndef FWSETUP_PERIPHCONFIG_PERIPHERAL_RECORDS_H
#define FWSETUP_PERIPHCONFIG_PERIPHERAL_RECORDS_H

#include <cstdint>
#include <memory>
#include <vector>

#include "periphconfig/bus_records.h"
#include "periphconfig/device_config.h"

enum AdcChannel : int32_t {
    kAin0 = 0,
    kAin1 = 1,
    kAin2 = 2,
    kAin3 = 3,
    kAin4 = 4,
    kAin5 = 5,
    kAin6 = 6,
    kAin7 = 7,
};
enum AdcAveraging : int32_t {
    kAdcNoAverage = 0,
    kAdcTwoSamples = 1,
    kAdcFourSamples = 2,
    kAdcEightSamples = 3,
    kAdcSixteenSamples = 4,
};
enum PwmEventTrigger : int32_t {
    kPwmTriggerZero = 0,
    kPwmTriggerPeriod = 1,
    kPwmTriggerCompareAUp = 2,
    kPwmTriggerCompareADown = 3,
    kPwmTriggerCompareBUp = 4,
    kPwmTriggerCompareBDown = 5,
};

namespace DeviceNames {
const NameTable& AdcChannels();       // "Ain0" 0 .. "Ain7" 7
const NameTable& AdcAveragings();     // "NoAverage" 0 .. "SixteenSamples" 4
const NameTable& PwmEventTriggers();  // "Zero" 0 .. "CompareBDown" 5
const NameTable& EqepInputs();        // "Input_A" 0, "Input_B" 1, "Input_I" 2, "Input_S" 3
const NameTable& TimerPinMux();       // "timer<T>_mux<M>", T 4..7, M 0..3: (T - 4) * 4 + M
const NameTable& PwmOutputPins();     // "Ehrpwm0A_Mux1" 0 .. "Ehrpwm2B_Mux0" 11; fallback 2
const NameTable& EcapModules();       // "Ecap0" .. "Ecap2_Mux2": the module of the pair
const NameTable& EcapPinMux();        // the same names: the pin-mux value of the pair
const NameTable& EqepModules();       // "Eqep0_Mux0" .. "Eqep2_Mux1": the module of the pair
const NameTable& EqepPinMux();        // the same names: the pin-mux value of the pair
}  // namespace DeviceNames

// "Am335xGeneralPurposeTimer"
class Am335xGeneralPurposeTimerConfig : public DeviceConfig {
  public:
    explicit Am335xGeneralPurposeTimerConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t timerModule;  // "timerModule", uint8: the processor timer's number
};

// "Am335xGeneralPurposeIoTimer"
class Am335xGeneralPurposeIoTimerConfig : public Am335xGeneralPurposeTimerConfig {
  public:
    explicit Am335xGeneralPurposeIoTimerConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t pinMux;           // "pinMux", name: TimerPinMux
    const int32_t level;            // "level", string: 1 for exactly "High", else 0
    const PinPullType pinPullType;  // "pinPullType", name: PullTypes
};

// "Am335xPwm"
class Am335xPwmConfig : public DeviceConfig {
  public:
    explicit Am335xPwmConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t outputPin;  // "outputPin", name: PwmOutputPins (a text it lacks gives 2)
    const PwmEventTrigger eventTrigger;  // "eventTrigger", optional name (Zero when absent)
    const bool hasEventTrigger;          // whether "eventTrigger" was read
};

// "Am335xEcap": both fields come from the pair that "outputPin" names (a text the
// table lacks gives 0 for both).
class Am335xEcapConfig : public DeviceConfig {
  public:
    explicit Am335xEcapConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t pinMux;  // "outputPin", name: EcapPinMux
    const int32_t module;  // "outputPin", name: EcapModules
};

// "Am335xEqep": module and pinMux come from the pair that "pinMux" names (a text
// the table lacks gives 0 for both).
class Am335xEqepConfig : public DeviceConfig {
  public:
    explicit Am335xEqepConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t module;           // "pinMux", name: EqepModules
    const PinPullType pinPullType;  // "pinPullType", name: PullTypes
    const int32_t countsPerInt;     // "countsPerInt", int
    const int32_t countsPerRev;     // "countsPerRev", int
    const int32_t pinMux;           // "pinMux", name: EqepPinMux
    // "enabledInputs": an array of names (EqepInputs) in order; absent: empty.
    const std::vector<int32_t> enabledInputs;

  private:
    std::vector<int32_t> ReadInputs(const rapidjson::Value& object);
};

// "Am335xAdc": both fields are read only when "channel" exists.
class Am335xAdcConfig : public DeviceConfig {
  public:
    explicit Am335xAdcConfig(const rapidjson::Value& object, int nesting = 0);
    const AdcChannel channel;                // "channel", name: AdcChannels (Ain0 when not read)
    const AdcAveraging numSamplesToAverage;  // "numSamplesToAverage", name: AdcAveragings
    const bool hasChannel;                   // whether "channel" exists, so both were read
};

// "GenericInterrupt"
class GenericInterruptConfig : public DeviceConfig {
  public:
    explicit GenericInterruptConfig(const rapidjson::Value& object, int nesting = 0);
    const int32_t irqNumber;  // "irqNumber", int
};

// "AnalogEdgeSensor"
class AnalogEdgeSensorConfig : public DeviceConfig {
  public:
    explicit AnalogEdgeSensorConfig(const rapidjson::Value& object, int nesting = 0);
    // "adc": when present, built as an Am335xAdcConfig whatever its class says.
    const std::shared_ptr<Am335xAdcConfig> adc;
};

// "DigitalEdgeSensor"
class DigitalEdgeSensorConfig : public DeviceConfig {
  public:
    explicit DigitalEdgeSensorConfig(const rapidjson::Value& object, int nesting = 0);
    // "gpio": when present, an Am335xGpioConfig if its class is "Am335xGpio",
    // otherwise a GpioConfig.
    const std::shared_ptr<GpioConfig> gpio;
};

#endif
