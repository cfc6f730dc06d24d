#include "periphconfig/printhead_records.h"

const char FpgaHardwareConfig::kRecordName[] = "FPGA-HARDWARE-CONFIG";
const uint32_t FpgaHardwareConfig::kSpiReferenceClock;

FpgaHardwareConfig::FpgaHardwareConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      spiMaster(ReadDevice(object, "spiMaster")),
      gpioChipSelect(ReadDevice(object, "gpioChipSelect")) {}

// The factory builds a record of the type its class names, so a checked class
// makes the conversion sound.
const SpiDeviceConfig* FpgaHardwareConfig::SpiDevice() const {
    if (!spiMaster || spiMaster->deviceClass != kDeviceClassSpiDevice)
        return 0;
    return static_cast<const SpiDeviceConfig*>(spiMaster.get());
}

const Am335xGpioConfig* FpgaHardwareConfig::ChipSelectGpio() const {
    if (!gpioChipSelect || gpioChipSelect->deviceClass != kDeviceClassAm335xGpio)
        return 0;
    return static_cast<const Am335xGpioConfig*>(gpioChipSelect.get());
}

bool FpgaHardwareConfig::IsComplete() const {
    return SpiDevice() != 0 && ChipSelectGpio() != 0;
}

uint8_t FpgaHardwareConfig::GetSpiModule() const {
    const SpiDeviceConfig* spi = SpiDevice();
    return spi == 0 ? 0 : spi->spiModule;
}

uint8_t FpgaHardwareConfig::GetChipSelect() const {
    const SpiDeviceConfig* spi = SpiDevice();
    return spi == 0 ? 0 : spi->chipSelect;
}

bool FpgaHardwareConfig::GetClockPolarity() const {
    const SpiDeviceConfig* spi = SpiDevice();
    return spi != 0 && (spi->clockMode == 2 || spi->clockMode == 3);
}

bool FpgaHardwareConfig::GetClockPhase() const {
    const SpiDeviceConfig* spi = SpiDevice();
    return spi != 0 && (spi->clockMode == 1 || spi->clockMode == 3);
}

uint32_t FpgaHardwareConfig::GetClockDivider() const {
    const SpiDeviceConfig* spi = SpiDevice();
    const uint32_t frequency = spi == 0 ? 0 : static_cast<uint32_t>(spi->clkFrequency);
    return frequency == 0 ? 1 : kSpiReferenceClock / frequency;
}

uint8_t FpgaHardwareConfig::GetWordLength() const {
    const SpiDeviceConfig* spi = SpiDevice();
    return spi == 0 ? 0 : spi->wordLength;
}

int32_t FpgaHardwareConfig::GetChipSelectPin() const {
    const Am335xGpioConfig* gpio = ChipSelectGpio();
    return gpio == 0 ? -1 : gpio->pinNumber;
}

std::shared_ptr<FpgaHardwareConfig> FpgaHardwareConfig::FromRecord(
    const std::shared_ptr<DeviceConfig>& record) {
    if (!record || record->deviceClass != kDeviceClassFpgaHardwareConfig)
        return std::shared_ptr<FpgaHardwareConfig>();
    const std::shared_ptr<FpgaHardwareConfig> fpga =
        std::static_pointer_cast<FpgaHardwareConfig>(record);
    return fpga->IsComplete() ? fpga : std::shared_ptr<FpgaHardwareConfig>();
}

ThermalPrintheadConfig::ThermalPrintheadConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      powerEnable(ReadDevice(object, "powerEnable")),
      latch(ReadDevice(object, "latch")),
      strobeEnable(ReadDevice(object, "strobeEnable")),
      strobes(ReadDeviceList(object, "strobes")),
      data(ReadDevice(object, "data")) {}

Rohm_KF3002_GD31C_PrintheadConfig::Rohm_KF3002_GD31C_PrintheadConfig(const rapidjson::Value& object,
                                                                     int nesting)
    : ThermalPrintheadConfig(object, nesting),
      adcChannel(
          static_cast<AdcChannel>(ReadName(object, "adcChannel", DeviceNames::AdcChannels()))) {}

FpgaAcceleratedPrintheadConfig::FpgaAcceleratedPrintheadConfig(const rapidjson::Value& object,
                                                               int nesting)
    : DeviceConfig(object, nesting),
      powerEnable(ReadDevice(object, "powerEnable")),
      printEnable(ReadDevice(object, "printEnable")),
      rasterSync(ReadDevice(object, "rasterSync")),
      rasterPreSync(ReadDevice(object, "rasterPreSync")),
      data(ReadDevice(object, "data")),
      fpgaComm(ReadDevice(object, "fpgaComm")),
      adcChannel(
          static_cast<AdcChannel>(ReadName(object, "adcChannel", DeviceNames::AdcChannels()))) {}

PrintheadEepromConfig::PrintheadEepromConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      printheadEeprom(ReadDevice(object, "printheadEeprom")),
      eepromIoxMuxSwitch(ReadDevice(object, "eepromIoxMuxSwitch")) {}

FpgaCommConfig::FpgaCommConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      fapiVersion(ReadString(object, "fapiVersion")),
      parallelDataTransfer(ReadFlag(object, "parallelDataTransfer")),
      noHistoriesData(ReadFlag(object, "noHistoriesData")) {}

DacChannelConfig::DacChannelConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting), channel(ReadInt(object, "channel")) {}

DaisyChainedDACConfig::DaisyChainedDACConfig(const rapidjson::Value& object, int nesting)
    : DeviceConfig(object, nesting),
      numDevices(ReadInt(object, "numDevices")),
      numChannelsPerDevice(ReadInt(object, "numChannelsPerDevice")) {}
