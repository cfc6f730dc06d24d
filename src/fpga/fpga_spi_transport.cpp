#include "fpga/fpga_spi_transport.h"

#include <cstring>
#include <string>

#include "eeprom/wec_eeprom_handler.h"
#include "fpga/fpga_engine.h"
#include "package/file_stream.h"
#include "periphconfig/peripheral_config_file.h"
#include "runtime/simple_event.h"

namespace {

const uint32_t kReadWriteAccess = platform::kGenericRead | platform::kGenericWrite;
const uint32_t kShareReadWrite = 3;
const uint32_t kPinModeForSelection = 0;

// The peripheral configuration the transport loads; its records live as long
// as the module.
PeripheralConfigFile& ProcessPeripheralConfig() {
    static PeripheralConfigFile file;
    return file;
}

bool SendWords(platform::DeviceHandle device, uint32_t code, const uint32_t* words,
               uint32_t count) {
    return platform::DeviceIoControl(device, code, reinterpret_cast<const uint8_t*>(words),
                                     count * 4, 0, 0, 0);
}

bool SendWord(platform::DeviceHandle device, uint32_t code, uint32_t word) {
    return SendWords(device, code, &word, 1);
}

WString SpiDeviceName(uint8_t module) {
    const std::string number = std::to_string(static_cast<unsigned>(module) + 1);
    return u"SPI" + WString(number.begin(), number.end()) + u":";
}

}  // namespace

std::shared_ptr<FpgaHardwareConfig> LoadFpgaHardwareConfig() {
    WecEEPromHandler handler;
    if (!handler.ReadRegionToFile(0, kFpgaTempPeripheralConfigPath))
        return std::shared_ptr<FpgaHardwareConfig>();
    FileStream file(kFpgaTempPeripheralConfigPath, StreamMode::Read);
    PeripheralConfigFile& document = ProcessPeripheralConfig();
    if (!document.Load(file))
        return std::shared_ptr<FpgaHardwareConfig>();
    // The class and completeness are checked: a record of another class under
    // the name is no FPGA link.
    return document.FindFpgaHardwareConfig();
}

FpgaSpiTransport::FpgaSpiTransport()
    : spi_(platform::kInvalidDeviceHandle),
      gpio_(platform::kInvalidDeviceHandle),
      savedPinMode_(0),
      chipSelectPin_(-1) {}

platform::SpiChannelConfig FpgaSpiTransport::ChannelConfig(const FpgaHardwareConfig& config,
                                                           uint32_t transferMode) {
    const uint32_t words[platform::kSpiChannelConfigWords] = {
        config.GetClockPhase() ? 1u : 0u,
        config.GetClockPolarity() ? 1u : 0u,
        config.GetClockDivider(),
        1,
        config.GetWordLength(),
        transferMode,
        0,
        5,
        0,
        1,
        0,
        0,
        1,
        0,
        0,
    };
    platform::SpiChannelConfig channel;
    memcpy(channel.words, words, sizeof(words));
    return channel;
}

bool FpgaSpiTransport::InitHardware() {
    std::shared_ptr<FpgaHardwareConfig> config = LoadFpgaHardwareConfig();
    if (!config)
        return false;
    // A new transport: the previous run's handles are left as they are.
    config_ = config;
    spi_ = platform::kInvalidDeviceHandle;
    gpio_ = platform::kInvalidDeviceHandle;
    savedPinMode_ = 0;
    chipSelectPin_ = -1;
    receiveConfig_.reset();
    transmitConfig_.reset();

    spi_ = platform::CreateFile(SpiDeviceName(config_->GetSpiModule()), kReadWriteAccess, 0,
                                platform::kOpenExisting);
    const bool spiOpened = spi_ != platform::kInvalidDeviceHandle;

    bool gpioReady = false;
    gpio_ =
        platform::CreateFile(u"GIO1:", kReadWriteAccess, kShareReadWrite, platform::kOpenExisting);
    if (gpio_ != platform::kInvalidDeviceHandle) {
        chipSelectPin_ = config_->GetChipSelectPin();
        const uint32_t pin = static_cast<uint32_t>(chipSelectPin_);
        uint8_t mode[4] = {0, 0, 0, 0};
        uint32_t returned = 0;
        const bool read = platform::DeviceIoControl(gpio_, platform::kGpioControlGetMode,
                                                    reinterpret_cast<const uint8_t*>(&pin), 4, mode,
                                                    4, &returned);
        memcpy(&savedPinMode_, mode, 4);
        const uint32_t select[2] = {pin, kPinModeForSelection};
        gpioReady = SendWords(gpio_, platform::kGpioControlSetMode, select, 2) && read;
    }

    receiveConfig_.reset(
        new platform::SpiChannelConfig(ChannelConfig(*config_, platform::kSpiTransferReceive)));
    transmitConfig_.reset(
        new platform::SpiChannelConfig(ChannelConfig(*config_, platform::kSpiTransferTransmit)));

    const bool opened = SendWord(spi_, platform::kSpiControlOpen, kOpenValue);
    return spiOpened && gpioReady && opened;
}

bool FpgaSpiTransport::Transfer(const platform::SpiChannelConfig& config, uint8_t* readInto,
                                const uint8_t* writeFrom, uint32_t bytes) {
    if (!SendWord(spi_, platform::kSpiControlTakeBus, kTransferTimeoutMs))
        return false;
    const uint32_t chipSelect = config_->GetChipSelect();
    platform::SpiConfigureRequest request;
    memset(&request, 0, sizeof(request));
    request.chipSelect = chipSelect;
    request.config = &config;
    bool ok = platform::DeviceIoControl(spi_, platform::kSpiControlConfigure,
                                        reinterpret_cast<const uint8_t*>(&request), sizeof(request),
                                        0, 0, 0);
    ok = SendWord(spi_, platform::kSpiControlEnableChannel, chipSelect) && ok;
    // The number of bytes moved is the driver's business: only the call's result counts.
    ok = (readInto ? platform::ReadFile(spi_, readInto, bytes, 0)
                   : platform::WriteFile(spi_, writeFrom, bytes, 0)) &&
         ok;
    ok = platform::DeviceIoControl(spi_, platform::kSpiControlReleaseBus, 0, 0, 0, 0, 0) && ok;
    return ok;
}

bool FpgaSpiTransport::TransmitBits(const uint8_t* data, uint32_t bits) {
    if (!config_ || !transmitConfig_)
        return false;
    return Transfer(*transmitConfig_, 0, data, bits / 8);
}

bool FpgaSpiTransport::ReceiveBits(uint8_t* buffer, uint32_t bits) {
    if (!config_ || !receiveConfig_)
        return false;
    return Transfer(*receiveConfig_, buffer, 0, bits / 8);
}

bool FpgaSpiTransport::SendPin(uint32_t code) {
    return SendWord(gpio_, code, static_cast<uint32_t>(chipSelectPin_));
}

bool FpgaSpiTransport::StartTransaction(uint8_t) {
    return SendPin(platform::kGpioControlSetLow);
}

bool FpgaSpiTransport::EndTransaction() {
    return SendPin(platform::kGpioControlSetHigh);
}

bool FpgaSpiTransport::WaitMilliseconds(uint32_t ms) {
    std::unique_ptr<SimpleEvent> pause(new SimpleEvent(true));
    pause->Wait(ms);
    return true;
}

bool FpgaSpiTransport::CloseHardware() {
    const uint32_t restore[2] = {static_cast<uint32_t>(chipSelectPin_), savedPinMode_};
    bool ok = SendWords(gpio_, platform::kGpioControlSetMode, restore, 2);
    ok = platform::CloseHandle(spi_) && ok;
    ok = platform::CloseHandle(gpio_) && ok;
    return ok;
}

FpgaSpiTransport& TheFpgaSpiTransport() {
    static FpgaSpiTransport transport;
    return transport;
}
