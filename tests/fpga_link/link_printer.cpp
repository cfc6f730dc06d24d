#include "link_printer.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <fstream>
#include <sstream>

#include "platform/spi_gpio_drivers.h"
#include "sim/default_peripherals.h"
#include "sim/eeprom_setup.h"
#include "support/child_process.h"

namespace linktest {

std::string PeripheralDocument(const LinkRecord& record) {
    rapidjson::Document document;
    document.Parse(sim::DefaultPeripheralDocument().c_str());
    rapidjson::Value& devices = document["configuration"]["devices"];
    auto& allocator = document.GetAllocator();
    for (rapidjson::Value& device : devices.GetArray()) {
        if (std::string(device["name"].GetString()) != "FPGA-HARDWARE-CONFIG")
            continue;
        if (!record.replacement.empty()) {
            rapidjson::Document replacement;
            replacement.Parse(record.replacement.c_str());
            EXPECT_FALSE(replacement.HasParseError()) << record.replacement;
            device.CopyFrom(replacement, allocator);
            break;
        }
        rapidjson::Value& spi = device["spiMaster"];
        spi["spiModule"].SetInt(record.spiModule);
        spi["chipSelect"].SetInt(record.chipSelect);
        spi["clockMode"].SetInt(record.clockMode);
        spi["clkFrequency"].SetInt64(record.clkFrequency);
        spi["wordLength"].SetInt(record.wordLength);
        device["gpioChipSelect"]["pinNumber"].SetString(record.pin.c_str(), allocator);
    }
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    return buffer.GetString();
}

LinkPrinter::LinkPrinter(const LinkRecord& record) {
    sim::DeviceOptions options;
    options.boardId = 18;
    options.eeprom = record.eeprom;
    if (record.region0) {
        const fs::path file = Root() / "region0.json";
        std::ofstream(file) << PeripheralDocument(record);
        options.region0 = file;
    } else {
        options.defaultRegion0 = false;
    }
    sim::SetUpEeprom(Root(), options);
    temp_.MakeDir("\\UpgradeTemp");
    fwtest::StartDeviceTrace(Root());
}

void LinkPrinter::WriteHw(const std::string& name, const std::string& contents) const {
    fs::create_directories((temp_.Hw() / name).parent_path());
    std::ofstream(temp_.Hw() / name, std::ios::binary | std::ios::trunc) << contents;
}

std::string LinkPrinter::ReadHw(const std::string& name) const {
    std::ifstream in(temp_.Hw() / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<fwtest::TraceCall> LinkPrinter::LinkCalls() const {
    std::vector<fwtest::TraceCall> calls;
    for (const fwtest::TraceCall& call : fwtest::ReadDeviceTrace(Root())) {
        if (call.dev.rfind("SPI", 0) == 0 || call.dev == "GIO1:")
            calls.push_back(call);
    }
    return calls;
}

std::vector<std::string> LinkPrinter::LinkLines() const {
    std::vector<std::string> lines;
    for (const fwtest::TraceCall& call : LinkCalls())
        lines.push_back(call.line);
    return lines;
}

void InFreshProcess(const std::function<void()>& body) {
    const fwtest::ChildOutcome outcome = fwtest::RunInChild(body);
    EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
}

DriverHandle::DriverHandle(const char16_t* name, uint32_t shareMode)
    : handle_(platform::CreateFile(name, platform::kGenericRead | platform::kGenericWrite,
                                   shareMode, platform::kOpenExisting)) {}

DriverHandle::~DriverHandle() {
    if (Valid())
        platform::CloseHandle(handle_);
}

bool DriverHandle::Send(uint32_t code, const std::vector<uint32_t>& in, uint32_t* out) const {
    return platform::DeviceIoControl(
        handle_, code, in.empty() ? nullptr : reinterpret_cast<const uint8_t*>(in.data()),
        uint32_t(in.size() * 4), reinterpret_cast<uint8_t*>(out), out ? 4 : 0, nullptr);
}

bool DriverHandle::Read(uint8_t* buffer, uint32_t count) const {
    return platform::ReadFile(handle_, buffer, count, nullptr);
}

bool DriverHandle::Write(const Bytes& bytes) const {
    return platform::WriteFile(handle_, bytes.data(), uint32_t(bytes.size()), nullptr);
}

uint32_t PinMode(int32_t pin) {
    DriverHandle gpio(u"GIO1:", 3);
    uint32_t mode = 0xDEADBEEF;
    EXPECT_TRUE(gpio.Send(platform::kGpioControlGetMode, {uint32_t(pin)}, &mode));
    return mode;
}

namespace {

const char16_t* SpiName(uint32_t module) {
    static const char16_t* const kNames[] = {u"SPI1:", u"SPI2:", u"SPI3:", u"SPI4:"};
    return kNames[module];
}

}  // namespace

Bus::Bus(uint32_t spiModule, int32_t pin)
    : spi_(SpiName(spiModule), 0), gpio_(u"GIO1:", 3), pin_(pin) {
    EXPECT_TRUE(spi_.Valid());
    EXPECT_TRUE(gpio_.Valid());
}

void Bus::SetPin(bool high) const {
    EXPECT_TRUE(gpio_.Send(high ? platform::kGpioControlSetHigh : platform::kGpioControlSetLow,
                           {uint32_t(pin_)}));
}

Bytes Bus::Transfer(const Bytes& data, uint32_t count) const {
    auto channel = [this](uint32_t mode) {
        platform::SpiChannelConfig config = {{0, 0, 2, 1, 8, mode, 0, 5, 0, 1, 0, 0, 1, 0, 0}};
        platform::SpiConfigureRequest request = {0, &config};
        EXPECT_TRUE(platform::DeviceIoControl(spi_.Get(), platform::kSpiControlConfigure,
                                              reinterpret_cast<const uint8_t*>(&request),
                                              sizeof(request), nullptr, 0, nullptr));
        EXPECT_TRUE(spi_.Send(platform::kSpiControlEnableChannel, {0}));
    };
    Bytes answer(count);
    EXPECT_TRUE(spi_.Send(platform::kSpiControlTakeBus, {5000}));
    if (!data.empty()) {
        channel(platform::kSpiTransferTransmit);
        EXPECT_TRUE(spi_.Write(data));
    }
    if (count > 0) {
        channel(platform::kSpiTransferReceive);
        EXPECT_TRUE(spi_.Read(answer.data(), count));
    }
    EXPECT_TRUE(spi_.Send(platform::kSpiControlReleaseBus, {}));
    return answer;
}

Bytes Bus::Select(const Bytes& data, uint32_t count) const {
    SetPin(false);
    const Bytes answer = Transfer(data, count);
    SetPin(true);
    return answer;
}

}  // namespace linktest
