// The simulated printer's built-in drivers (SPI masters, GPIO), the FPGA's
// wiring and the script model, through the platform's device calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "fileutil/crc16.h"
#include "link_printer.h"
#include "package/memory_stream.h"
#include "periphconfig/peripheral_config_file.h"
#include "platform/spi_gpio_drivers.h"
#include "sim/default_peripherals.h"
#include "sim/devices/fpga.h"

namespace linktest {
namespace {

using platform::kGpioControlGetMode;
using platform::kGpioControlSetHigh;
using platform::kGpioControlSetLow;
using platform::kGpioControlSetMode;

class SimulatedDevices : public ::testing::Test {
  protected:
    void SetUp() override { fwtest::StartDeviceTrace(device.Root()); }
    void WriteHw(const std::string& name, const std::string& contents) const {
        std::filesystem::create_directories((device.Hw() / name).parent_path());
        std::ofstream(device.Hw() / name, std::ios::binary | std::ios::trunc) << contents;
    }
    std::string ReadHw(const std::string& name) const {
        std::ifstream in(device.Hw() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fwtest::TempDevice device;
};

TEST_F(SimulatedDevices, BuiltInDriversOpenWithoutActivation) {
    const struct {
        const char16_t* name;
        const char* traced;
        bool opens;
    } cases[] = {
        {u"SPI1:", "SPI1:", true},  {u"SPI4:", "SPI4:", true},  {u"spi2:", "SPI2:", true},
        {u"GIO1:", "GIO1:", true},  {u"SPI5:", "SPI5:", false}, {u"SPI0:", "SPI0:", false},
        {u"GIO2:", "GIO2:", false}, {u"EPM1:", "EPM1:", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.traced);
        fwtest::ClearDeviceTrace(device.Root());
        {
            DriverHandle handle(c.name, 3);
            EXPECT_EQ(handle.Valid(), c.opens);
        }
        const std::vector<fwtest::TraceCall> calls = fwtest::ReadDeviceTrace(device.Root());
        ASSERT_EQ(calls.size(), c.opens ? 2u : 1u);
        EXPECT_EQ(calls[0].dev, c.traced);
        EXPECT_EQ(calls[0].op, "open");
        EXPECT_EQ(calls[0].ok, c.opens);
        if (c.opens) {
            EXPECT_EQ(calls[1].Brief(), std::string(c.traced) + " close");
        }
    }
}

// Every pin starts high in mode 1; the codes drive and set it, and the state
// outlives the context that changed it.
TEST_F(SimulatedDevices, GpioDriverKeepsEachPinsLevelAndMode) {
    {
        DriverHandle gpio(u"GIO1:", 3);
        uint32_t mode = 0;
        EXPECT_TRUE(gpio.Send(kGpioControlGetMode, {0}, &mode));
        EXPECT_EQ(mode, 1u);
        EXPECT_TRUE(gpio.Send(kGpioControlGetMode, {127}, &mode));
        EXPECT_EQ(mode, 1u);
        EXPECT_TRUE(gpio.Send(kGpioControlSetMode, {49, 0}));
        EXPECT_TRUE(gpio.Send(kGpioControlSetMode, {50, 0xFFFFFFFF}));
        EXPECT_TRUE(gpio.Send(kGpioControlSetLow, {49}));
        EXPECT_TRUE(gpio.Send(kGpioControlSetHigh, {50}));
    }
    DriverHandle gpio(u"GIO1:", 3);
    uint32_t mode = 7;
    EXPECT_TRUE(gpio.Send(kGpioControlGetMode, {49}, &mode));
    EXPECT_EQ(mode, 0u);
    EXPECT_TRUE(gpio.Send(kGpioControlGetMode, {50}, &mode));
    EXPECT_EQ(mode, 0xFFFFFFFFu);

    // Refused: pins that do not exist, buffers too short, other codes, transfers.
    fwtest::ClearDeviceTrace(device.Root());
    EXPECT_FALSE(gpio.Send(kGpioControlSetLow, {128}));
    EXPECT_FALSE(gpio.Send(kGpioControlSetLow, {0xFFFFFFFF}));
    EXPECT_FALSE(gpio.Send(kGpioControlSetMode, {49}));
    EXPECT_FALSE(gpio.Send(kGpioControlGetMode, {49}));
    EXPECT_FALSE(gpio.Send(kGpioControlSetHigh, {}));
    EXPECT_FALSE(gpio.Send(0x220C08, {49}));
    uint8_t byte = 0;
    EXPECT_FALSE(gpio.Read(&byte, 1));
    EXPECT_FALSE(gpio.Write({1}));
    EXPECT_TRUE(gpio.Send(kGpioControlGetMode, {49}, &mode));
    EXPECT_EQ(mode, 0u);
    const std::vector<fwtest::TraceCall> calls = fwtest::ReadDeviceTrace(device.Root());
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[3].line,
              R"({"dev":"GIO1:","op":"ioctl","code":"0x220c14","in":[49],"ok":false})");
    EXPECT_EQ(calls[5].line,
              R"({"dev":"GIO1:","op":"ioctl","code":"0x220c08","in":[49],"ok":false})");
    EXPECT_EQ(calls[6].line, R"({"dev":"GIO1:","op":"read","data":"","ok":false})");
}

// Opens honour the share mode: a client that shares nothing keeps others out,
// and cannot come in while others are there.
TEST_F(SimulatedDevices, GpioDriverHonoursTheShareMode) {
    {
        DriverHandle shared(u"GIO1:", 3);
        DriverHandle alsoShared(u"GIO1:", 3);
        EXPECT_TRUE(shared.Valid() && alsoShared.Valid());
        DriverHandle exclusive(u"GIO1:", 0);
        EXPECT_FALSE(exclusive.Valid());
        DriverHandle readOnlyShare(u"GIO1:", 1);
        EXPECT_FALSE(readOnlyShare.Valid());
    }
    DriverHandle exclusive(u"GIO1:", 0);
    EXPECT_TRUE(exclusive.Valid());
    DriverHandle shared(u"GIO1:", 3);
    EXPECT_FALSE(shared.Valid());
}

// The bus is taken, a channel configured and put in use, and only then do
// transfers in its direction go through; another context cannot take the bus
// until it is given back (or its holder closes).
TEST_F(SimulatedDevices, SpiMasterTransfersOnlyOnAChannelInUse) {
    DriverHandle spi(u"SPI1:", 0);
    DriverHandle other(u"SPI1:", 0);
    DriverHandle otherMaster(u"SPI2:", 0);
    uint8_t byte = 0;
    auto configure = [&spi](uint32_t chipSelect, uint32_t mode) {
        platform::SpiChannelConfig config = {{0, 0, 2, 1, 8, mode, 0, 5, 0, 1, 0, 0, 1, 0, 0}};
        platform::SpiConfigureRequest request = {chipSelect, &config};
        return platform::DeviceIoControl(spi.Get(), platform::kSpiControlConfigure,
                                         reinterpret_cast<const uint8_t*>(&request),
                                         sizeof(request), nullptr, 0, nullptr);
    };
    EXPECT_TRUE(spi.Send(platform::kSpiControlOpen, {255}));
    EXPECT_FALSE(spi.Send(platform::kSpiControlOpen, {}));
    // Without the bus nothing is configured or moved.
    EXPECT_FALSE(configure(0, 3));
    EXPECT_FALSE(spi.Send(platform::kSpiControlEnableChannel, {0}));
    EXPECT_FALSE(spi.Write({1}));
    EXPECT_FALSE(spi.Send(platform::kSpiControlReleaseBus, {}));

    EXPECT_TRUE(spi.Send(platform::kSpiControlTakeBus, {5000}));
    EXPECT_TRUE(spi.Send(platform::kSpiControlTakeBus, {5000}));  // already its own
    EXPECT_FALSE(other.Send(platform::kSpiControlTakeBus, {5000}));
    EXPECT_TRUE(otherMaster.Send(platform::kSpiControlTakeBus, {5000}));
    EXPECT_FALSE(spi.Send(platform::kSpiControlEnableChannel, {0}));  // not configured
    EXPECT_FALSE(configure(4, 1));                                    // no such channel
    EXPECT_FALSE(configure(0, 0));                                    // no direction
    EXPECT_FALSE(configure(0, 4));
    EXPECT_TRUE(configure(0, platform::kSpiTransferReceive));
    EXPECT_FALSE(spi.Write({1}));  // no channel in use yet
    EXPECT_TRUE(spi.Send(platform::kSpiControlEnableChannel, {0}));
    EXPECT_FALSE(spi.Write({1}));  // a receive channel
    EXPECT_TRUE(spi.Read(&byte, 1));
    EXPECT_EQ(byte, 0xFF);  // nothing on the bus answers without selection
    EXPECT_TRUE(configure(1, 3));
    EXPECT_TRUE(spi.Send(platform::kSpiControlEnableChannel, {1}));
    EXPECT_TRUE(spi.Write({1}));
    EXPECT_TRUE(spi.Read(&byte, 1));
    EXPECT_EQ(platform::SetFilePointer(spi.Get(), 0, nullptr, 0), platform::kInvalidSetFilePointer);

    EXPECT_TRUE(spi.Send(platform::kSpiControlReleaseBus, {}));
    EXPECT_FALSE(spi.Read(&byte, 1));  // the channel is no longer in use
    EXPECT_TRUE(other.Send(platform::kSpiControlTakeBus, {5000}));
    {
        DriverHandle third(u"SPI1:", 0);
        EXPECT_FALSE(third.Send(platform::kSpiControlTakeBus, {5000}));
    }
    EXPECT_FALSE(spi.Send(0x220804, {0}));
}

TEST_F(SimulatedDevices, ClosingTheHolderGivesTheBusBack) {
    DriverHandle waiting(u"SPI3:", 0);
    {
        DriverHandle holder(u"SPI3:", 0);
        EXPECT_TRUE(holder.Send(platform::kSpiControlTakeBus, {5000}));
        EXPECT_FALSE(waiting.Send(platform::kSpiControlTakeBus, {5000}));
    }
    EXPECT_TRUE(waiting.Send(platform::kSpiControlTakeBus, {5000}));
}

// The script model: each read the FPGA sees takes the next line of rx, cut or
// padded to the read; reads it does not see take nothing.
TEST_F(SimulatedDevices, ScriptModelAnswersOneLinePerReadItSees) {
    WriteHw("fpga/model", "  script\n");
    WriteHw("fpga/rx", "0f9a2301\nAB cd\n\n112233445566\nzz\n");
    Bus bus;
    EXPECT_EQ(bus.Select({0x01}, 4), Bytes({0x0F, 0x9A, 0x23, 0x01}));
    // Not selected: nothing taken.
    EXPECT_EQ(bus.Transfer({}, 2), Bytes({0xFF, 0xFF}));
    EXPECT_EQ(ReadHw("fpga/rx"), "AB cd\n\n112233445566\nzz\n");
    EXPECT_EQ(bus.Select({}, 3), Bytes({0xAB, 0xCD, 0xFF}));
    EXPECT_EQ(bus.Select({}, 2), Bytes({0xFF, 0xFF}));
    EXPECT_EQ(bus.Select({}, 2), Bytes({0x11, 0x22}));
    EXPECT_EQ(bus.Select({}, 1), Bytes({0xFF}));  // "zz" holds no byte
    EXPECT_EQ(bus.Select({}, 2), Bytes({0xFF, 0xFF}));
    EXPECT_EQ(ReadHw("fpga/rx"), "");
    // Writes are only traced.
    fwtest::ClearDeviceTrace(device.Root());
    bus.Select({0xDE, 0xAD}, 0);
    bool traced = false;
    for (const fwtest::TraceCall& call : fwtest::ReadDeviceTrace(device.Root()))
        traced = traced || (call.op == "write" && call.data == "dead");
    EXPECT_TRUE(traced);
}

// The FPGA hangs on one SPI master and one pin: the default printer's, or as
// wiring.json says; a transfer elsewhere, or a wiring that cannot be used,
// reaches no FPGA.
TEST_F(SimulatedDevices, TheFpgaSeesOnlyItsMasterAndPin) {
    const struct {
        const char* name;
        const char* wiring;  // null: no wiring.json
        uint32_t module;
        int32_t pin;
        bool sees;
    } cases[] = {
        {"default", nullptr, 0, 49, true},
        {"default, other master", nullptr, 1, 49, false},
        {"default, other pin", nullptr, 0, 48, false},
        {"wired", R"({"spiModule": 2, "chipSelectPin": 100})", 2, 100, true},
        {"wired, default master", R"({"spiModule": 2, "chipSelectPin": 100})", 0, 49, false},
        {"pin only", R"({"chipSelectPin": 3})", 0, 3, true},
        {"not an object", "[0, 49]", 0, 49, false},
        {"not a number", R"({"spiModule": "0"})", 0, 49, false},
        {"negative module", R"({"spiModule": -1})", 0, 49, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fwtest::TempDevice printer;
        std::filesystem::create_directories(printer.Hw() / "fpga");
        std::ofstream(printer.Hw() / "fpga" / "model") << "script";
        std::ofstream(printer.Hw() / "fpga" / "rx") << "5a\n";
        if (c.wiring)
            std::ofstream(printer.Hw() / "fpga" / "wiring.json") << c.wiring;
        Bus bus(c.module, c.pin);
        EXPECT_EQ(bus.Select({}, 1), Bytes({uint8_t(c.sees ? 0x5A : 0xFF)}));
    }
}

// Without wiring.json the FPGA hangs where the default printer's peripheral
// configuration says its link is.
TEST(FpgaWiring, TheDefaultIsTheDefaultPrintersLink) {
    const std::string document = sim::DefaultPeripheralDocument();
    const uint16_t crc = Crc16::Compute(document);
    ByteVector bytes(2 + document.size());
    bytes[0] = uint8_t(crc & 0xFF);
    bytes[1] = uint8_t(crc >> 8);
    std::copy(document.begin(), document.end(), bytes.begin() + 2);
    MemoryStream stream(bytes);
    PeripheralConfigFile file;
    ASSERT_TRUE(file.Load(stream));
    const std::shared_ptr<FpgaHardwareConfig> link = file.FindFpgaHardwareConfig();
    ASSERT_TRUE(link);
    EXPECT_EQ(link->GetSpiModule(), sim::devices::kDefaultFpgaWiring.spiModule);
    EXPECT_EQ(link->GetChipSelectPin(), sim::devices::kDefaultFpgaWiring.chipSelectPin);
}

TEST_F(SimulatedDevices, AnUnknownModelNeverAnswers) {
    WriteHw("fpga/model", "oracle");
    WriteHw("fpga/rx", "5a\n");
    Bus bus;
    EXPECT_EQ(bus.Select({0x01}, 4), Bytes(4, 0xFF));
    EXPECT_EQ(ReadHw("fpga/rx"), "5a\n");
    EXPECT_FALSE(std::filesystem::exists(device.Hw() / "fpga" / "state.json"));
}

}  // namespace
}  // namespace linktest
